// The availability macros of the macOS SDK, reduced to the two forms the
// declarations beside this file use:
//   API_AVAILABLE(platform(introduced), ...)
//   API_DEPRECATED(message, platform(introduced, deprecated), ...)
// They expand to clang's availability attribute, as the SDK's own do, so that
// with an Apple target a call to a newer method outside `@available`, or to a
// deprecated one, is diagnosed the same way.
#pragma once

#define QUORVEL_SDK_SELECT(_1, _2, _3, _4, name, ...) name

#define QUORVEL_SDK_INTRODUCED_macos(version) macos, introduced = version
#define QUORVEL_SDK_INTRODUCED_ios(version) ios, introduced = version
#define QUORVEL_SDK_INTRODUCED_watchos(version) watchos, introduced = version
#define QUORVEL_SDK_INTRODUCED_tvos(version) tvos, introduced = version

#define QUORVEL_SDK_DEPRECATED_macos(from, to) macos, introduced = from, deprecated = to
#define QUORVEL_SDK_DEPRECATED_ios(from, to) ios, introduced = from, deprecated = to
#define QUORVEL_SDK_DEPRECATED_watchos(from, to) watchos, introduced = from, deprecated = to
#define QUORVEL_SDK_DEPRECATED_tvos(from, to) tvos, introduced = from, deprecated = to

#define QUORVEL_SDK_A1(p) __attribute__((availability(QUORVEL_SDK_INTRODUCED_##p)))
#define QUORVEL_SDK_A2(p, q) QUORVEL_SDK_A1(p) QUORVEL_SDK_A1(q)
#define QUORVEL_SDK_A3(p, q, r) QUORVEL_SDK_A2(p, q) QUORVEL_SDK_A1(r)
#define QUORVEL_SDK_A4(p, q, r, s) QUORVEL_SDK_A3(p, q, r) QUORVEL_SDK_A1(s)
#define API_AVAILABLE(...)                                                                        \
  QUORVEL_SDK_SELECT(__VA_ARGS__, QUORVEL_SDK_A4, QUORVEL_SDK_A3, QUORVEL_SDK_A2, QUORVEL_SDK_A1, \
                     unused)                                                                      \
  (__VA_ARGS__)

#define QUORVEL_SDK_D1(m, p) __attribute__((availability(QUORVEL_SDK_DEPRECATED_##p, message = m)))
#define QUORVEL_SDK_D2(m, p, q) QUORVEL_SDK_D1(m, p) QUORVEL_SDK_D1(m, q)
#define QUORVEL_SDK_D3(m, p, q, r) QUORVEL_SDK_D2(m, p, q) QUORVEL_SDK_D1(m, r)
#define QUORVEL_SDK_D4(m, p, q, r, s) QUORVEL_SDK_D3(m, p, q, r) QUORVEL_SDK_D1(m, s)
#define API_DEPRECATED(message, ...)                                                              \
  QUORVEL_SDK_SELECT(__VA_ARGS__, QUORVEL_SDK_D4, QUORVEL_SDK_D3, QUORVEL_SDK_D2, QUORVEL_SDK_D1, \
                     unused)                                                                      \
  (message, __VA_ARGS__)
