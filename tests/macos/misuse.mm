// Misuses of the framework that the declarations in sdk/ must make the
// compiler report, so that the check of the macOS back end can't pass for
// want of an attribute. Compiled with -verify: each marked line must draw its
// diagnostic (notes aside) and no other line may draw any. `both` holds for
// every deployment target, `macos12` and `macos14` for that one only.
#import <EventKit/EventKit.h>

void misuse(EKEventStore* store, EKEvent* event,
            EKEventStoreRequestAccessCompletionHandler handler) {
  // A method of macOS 14 outside `@available`.
  // macos12-warning@+1 {{is only available on macOS 14.0 or newer}}
  [store requestFullAccessToEventsWithCompletion:handler];

  // The older request, deprecated from macOS 14 on.
  // macos14-warning@+1 {{is deprecated: first deprecated in macOS 14.0}}
  [store requestAccessToEntityType:EKEntityTypeEvent completion:handler];

  // A selector the store doesn't have.
  // both-error@+1 {{declares the selector 'requestAccessWithCompletion:'}}
  [store requestAccessWithCompletion:handler];

  // nil where the framework requires a date.
  // both-warning@+1 {{null passed to a callee that requires a non-null argument}}
  [store predicateForEventsWithStartDate:nil endDate:event.endDate calendars:nil];

  // A title is an NSString, not a C string.
  // both-error@+1 {{cannot initialize a variable of type 'const char *'}}
  const char* title = event.title;
  (void)title;
}
