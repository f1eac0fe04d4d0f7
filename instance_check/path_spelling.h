#pragma once

#include "platform/platform.h"

// What the target and an image path are made into before they are compared: both are plain Win32
// paths ("C:\..." or "\\server\share\..."), and short (8.3) names are expanded only when that can
// change the answer.

// Both path buffers hold the longest path Windows can hand out, 32,767 units and the NUL.
constexpr DWORD kPathCapacity = 32768;

// Fills `target` with the plain form of the file that the file functions act on for `path`. False
// when there is none that an image path could equal (a volume GUID, a device, a stream), or it
// does not fit the buffer. Nothing is looked up in the file system.
bool MakeComparableTarget(const wchar_t* path, WCHAR* target);

// A short name never changes the drive or the share: an image path on another one cannot be the
// target's file. False where either path's drive or share cannot be told.
bool IsOnAnotherVolume(const WCHAR* target, const WCHAR* imagePath);

// The target's long form, once it is needed.
enum class TargetLookUp { NotYet, Done, Failed };

// Expands the target's short names through `scratch`, so that a failure leaves it as it was. A
// target that names no file, or no file that exists, keeps its spelling: no process can run from
// it. Failed for any other failure, which leaves the spelling of a running file in doubt.
TargetLookUp ExpandTarget(WCHAR* target, WCHAR* scratch);

// Expands the short names of an image path in place. False when that failed or would not fit.
bool ExpandImagePath(WCHAR* imagePath);
