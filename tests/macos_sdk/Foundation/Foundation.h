// The Foundation declarations that the macOS backend's Objective-C file uses, as Apple
// documents them. Declarations only: they serve to type-check that file with clang
// (-fsyntax-only); nothing is ever linked against them.
#pragma once

#include <CoreFoundation/CoreFoundation.h>

typedef signed char BOOL;
#define YES ((BOOL)1)
#define NO ((BOOL)0)
#define nil nullptr
typedef long NSInteger;
typedef unsigned long NSUInteger;

@interface NSObject
@end

@interface NSString : NSObject
@end

@interface NSArray<__covariant ObjectType> : NSObject
@property(readonly) NSUInteger count;
- (ObjectType)objectAtIndex:(NSUInteger)index;
@end
