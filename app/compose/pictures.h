#pragma once
// The fixed pictures of the text screen: capacity segments, status icons and the padlock.

#include <cstdint>

#include "common/picture_io.h"

namespace kuv {

const Picture& FreeSegmentPicture();  // 11 x 8 outline
const Picture& UsedSegmentPicture();  // 11 x 8 solid
// The 12 x 12 icon of a health class 0 to 3; nullptr for any other value, which draws no icon.
const Picture* HealthIconPicture(std::int32_t health);
const Picture& LockIconPicture();  // 12 x 12, unlocked encrypted drive
const Picture& PadlockPicture();   // 48 x 48, locked encrypted drive

}  // namespace kuv
