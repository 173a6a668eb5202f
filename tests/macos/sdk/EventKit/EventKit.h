// The part of EventKit that src/calendar/eventkit/store.mm uses, declared as
// the framework documents it (with its nullability and availability), so that
// the back end can be compiled (syntax and types only) where there is no macOS
// SDK.
#pragma once

#import <Foundation/Foundation.h>

NS_ASSUME_NONNULL_BEGIN

typedef NS_ENUM(NSUInteger, EKEntityType) {
  EKEntityTypeEvent,
  EKEntityTypeReminder,
};

typedef NS_ENUM(NSInteger, EKEventAvailability) {
  EKEventAvailabilityNotSupported = -1,
  EKEventAvailabilityBusy = 0,
  EKEventAvailabilityFree,
  EKEventAvailabilityTentative,
  EKEventAvailabilityUnavailable,
};

typedef NS_ENUM(NSInteger, EKParticipantStatus) {
  EKParticipantStatusUnknown,
  EKParticipantStatusPending,
  EKParticipantStatusAccepted,
  EKParticipantStatusDeclined,
  EKParticipantStatusTentative,
  EKParticipantStatusDelegated,
  EKParticipantStatusCompleted,
  EKParticipantStatusInProcess,
};

@interface EKObject : NSObject
@end

@class EKCalendar;

@interface EKParticipant : EKObject
@property(nonatomic, readonly) EKParticipantStatus participantStatus;
@property(nonatomic, readonly, getter=isCurrentUser)
    BOOL currentUser API_AVAILABLE(macos(10.9), ios(6.0));
@end

@interface EKCalendarItem : EKObject
@property(nonatomic, copy, null_unspecified) NSString* title;
// nil when the item has no attendees, never an empty array.
@property(nonatomic, readonly, nullable) NSArray<__kindof EKParticipant*>* attendees;
@end

// One event, or one occurrence of a recurring event.
@interface EKEvent : EKCalendarItem
@property(null_unspecified, nonatomic, copy) NSDate* startDate;
@property(null_unspecified, nonatomic, copy) NSDate* endDate;
@property(nonatomic, getter=isAllDay) BOOL allDay;
@property(nonatomic) EKEventAvailability availability;
@end

typedef void (^EKEventStoreRequestAccessCompletionHandler)(BOOL granted, NSError* __nullable error);

API_AVAILABLE(macos(10.8), ios(4.0))
@interface EKEventStore : NSObject
- (id)init API_AVAILABLE(macos(10.9), ios(4.0));

- (void)requestFullAccessToEventsWithCompletion:
    (EKEventStoreRequestAccessCompletionHandler)completion
    API_AVAILABLE(ios(17.0), macos(14.0), watchos(10.0));

- (void)requestAccessToEntityType:(EKEntityType)entityType
                       completion:(EKEventStoreRequestAccessCompletionHandler)completion
    API_DEPRECATED("Use -requestFullAccessToEventsWithCompletion:, "
                   "-requestWriteOnlyAccessToEventsWithCompletion:, or "
                   "-requestFullAccessToRemindersWithCompletion:",
                   ios(6.0, 17.0), macos(10.0, 14.0), watchos(1.0, 10.0));

// Covers at most four years from startDate; a longer range is cut to that.
- (NSPredicate*)predicateForEventsWithStartDate:(NSDate*)startDate
                                        endDate:(NSDate*)endDate
                                      calendars:(nullable NSArray<EKCalendar*>*)calendars;

// Annotated nonnull, yet documented to return nil on failure, in no
// guaranteed order.
- (NSArray<EKEvent*>*)eventsMatchingPredicate:(NSPredicate*)predicate;
@end

NS_ASSUME_NONNULL_END
