#pragma once

// Written by tools/make-pictures with the cursor-hand pictures; do not edit.
// The pixel of each picture that stands for the pointer's position: the
// tip of the index finger.
namespace mizong::assets {

struct CursorHotSpot
{
    int size;
    int x;
    int y;
};

inline constexpr CursorHotSpot kCursorHotSpots[] = {
    {32, 11, 1},
    {48, 17, 1},
    {128, 46, 4},
    {256, 92, 8},
};

} // namespace mizong::assets
