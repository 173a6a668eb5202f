// The part of Foundation that src/calendar/eventkit/store.mm uses, declared as
// the framework documents it, so that the back end can be compiled (syntax and
// types only) where there is no macOS SDK. Not a replacement for the SDK: it
// holds nothing the back end does not call.
#pragma once

#include <os/availability.h>

// Basic types, as in <objc/objc.h> and <objc/NSObjCRuntime.h> for LP64.
typedef long NSInteger;
typedef unsigned long NSUInteger;
#if __OBJC_BOOL_IS_BOOL
typedef bool BOOL;  // arm64
#else
typedef signed char BOOL;  // x86_64
#endif
#define YES __objc_yes
#define NO __objc_no
#if defined(__cplusplus)
#define nil nullptr
#else
#define nil ((void*)0)
#endif

#define NS_ENUM(_type, _name)                                         \
  enum __attribute__((enum_extensibility(open))) _name : _type _name; \
  enum _name : _type
#define NS_ASSUME_NONNULL_BEGIN _Pragma("clang assume_nonnull begin")
#define NS_ASSUME_NONNULL_END _Pragma("clang assume_nonnull end")
#define NS_RETURNS_INNER_POINTER __attribute__((objc_returns_inner_pointer))

NS_ASSUME_NONNULL_BEGIN

__attribute__((objc_root_class))
@interface NSObject
+ (instancetype)alloc;
- (instancetype)init;
@end

typedef struct {
  unsigned long state;
  id __unsafe_unretained _Nullable* _Nullable itemsPtr;
  unsigned long* _Nullable mutationsPtr;
  unsigned long extra[5];
} NSFastEnumerationState;

@protocol NSFastEnumeration
- (NSUInteger)countByEnumeratingWithState:(NSFastEnumerationState*)state
                                  objects:(id __unsafe_unretained _Nullable[_Nonnull])buffer
                                    count:(NSUInteger)len;
@end

@interface NSArray<__covariant ObjectType> : NSObject <NSFastEnumeration>
@property(readonly) NSUInteger count;
@end

@interface NSData : NSObject
@property(readonly) const void* bytes NS_RETURNS_INNER_POINTER;
@property(readonly) NSUInteger length;
@end

typedef NSUInteger NSStringEncoding;
enum : NSStringEncoding { NSUTF8StringEncoding = 4 };

@interface NSString : NSObject
- (nullable NSData*)dataUsingEncoding:(NSStringEncoding)encoding allowLossyConversion:(BOOL)lossy;
@end

@interface NSError : NSObject
@property(readonly, copy) NSString* localizedDescription;
@end

typedef double NSTimeInterval;

@interface NSDate : NSObject
@property(readonly) NSTimeInterval timeIntervalSince1970;
+ (instancetype)dateWithTimeIntervalSince1970:(NSTimeInterval)secs;
@property(class, readonly, copy) NSDate* distantFuture;
@property(class, readonly, copy) NSDate* distantPast;
@end

@interface NSPredicate : NSObject
@end

typedef struct {
  NSInteger majorVersion;
  NSInteger minorVersion;
  NSInteger patchVersion;
} NSOperatingSystemVersion;

@interface NSProcessInfo : NSObject
@property(class, readonly, strong) NSProcessInfo* processInfo;
- (BOOL)isOperatingSystemAtLeastVersion:(NSOperatingSystemVersion)version
    API_AVAILABLE(macos(10.10), ios(8.0), watchos(2.0), tvos(9.0));
@end

NS_ASSUME_NONNULL_END
