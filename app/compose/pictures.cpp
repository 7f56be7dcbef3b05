#include "app/compose/pictures.h"

#include <array>

namespace kuv {

namespace {

constexpr const char* kHealthGood[] = {
    "....XXXX....", "..XX....XX..", ".X........X.", ".X.X....X.X.", "X.X.X..X.X.X", "X..........X",
    "X.XXXXXXXX.X", "X.XXXXXXXX.X", ".X.XXXXXX.X.", ".X..XXXX..X.", "..XX....XX..", "....XXXX....",
};

constexpr const char* kHealthCaution[] = {
    ".....XX.....", "....X..X....", "....X..X....", "...X.XX.X...", "...X.XX.X...", "..X..XX..X..",
    "..X..XX..X..", ".X........X.", ".X...XX...X.", "X....XX....X", "X..........X", ".XXXXXXXXXX.",
};

constexpr const char* kHealthBad[] = {
    "XXXXXXXXXXXX", "X.X......X.X", "XXXX....XXXX", "X.XXX..XXX.X", "X..XXXXXX..X", "X...XXXX...X",
    "X...XXXX...X", "X..XXXXXX..X", "X.XXX..XXX.X", "XXXX....XXXX", "X.X......X.X", "XXXXXXXXXXXX",
};

constexpr const char* kHealthUnknown[] = {
    "XXXXXXXXXXXX", "X..........X", "X...XXXX...X", "X..X....X..X", "X..X....X..X", "X......X...X",
    "X.....X....X", "X.....X....X", "X..........X", "X.....X....X", "X..........X", "XXXXXXXXXXXX",
};

constexpr const char* kLock[] = {
    "...XXXXXX...", "..XXXXXXXX..", "..XX....XX..", "..XX....XX..", "..XX....XX..", ".XXXXXXXXXX.",
    ".X.XXXXXXXX.", ".X.XX..XXXX.", ".X.XXX.XXXX.", ".X.XXX.XXXX.", ".X.XXXXXXXX.", "..XXXXXXXX..",
};

constexpr const char* kFreeSegment[] = {
    "XXXXXXXXXXX", "X.........X", "X.........X", "X.........X",
    "X.........X", "X.........X", "X.........X", "XXXXXXXXXXX",
};

// Shackle in rows 1 to 19, body in rows 20 to 45 with the keyhole near its middle.
constexpr const char* kPadlock[] = {
    "................................................",
    "....................XXXXXXXX....................",
    "..................XXXXXXXXXXXX..................",
    "................XXXXXXXXXXXXXXXX................",
    "...............XXXXXXXXXXXXXXXXXX...............",
    ".............XXXXXXXXXXXXXXXXXXXXXX.............",
    ".............XXXXXXXXXXXXXXXXXXXXXX.............",
    "............XXXXXXXX........XXXXXXXX............",
    "...........XXXXXXX............XXXXXXX...........",
    "...........XXXXXX..............XXXXXX...........",
    "..........XXXXXXX..............XXXXXXX..........",
    "..........XXXXXX................XXXXXX..........",
    "..........XXXXXX................XXXXXX..........",
    "..........XXXXX..................XXXXX..........",
    "..........XXXXX..................XXXXX..........",
    ".........XXXXXX..................XXXXXX.........",
    ".........XXXXXX..................XXXXXX.........",
    ".........XXXXXX..................XXXXXX.........",
    ".........XXXXXX..................XXXXXX.........",
    ".........XXXXXX..................XXXXXX.........",
    ".......XXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXX.......",
    "......XXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXX......",
    ".....XXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXX.....",
    ".....XXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXX.....",
    ".....XXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXX.....",
    ".....XXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXX.....",
    ".....XXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXX.....",
    ".....XXXXXXXXXXXXXXXXXX..XXXXXXXXXXXXXXXXXX.....",
    ".....XXXXXXXXXXXXXXXX......XXXXXXXXXXXXXXXX.....",
    ".....XXXXXXXXXXXXXXXX......XXXXXXXXXXXXXXXX.....",
    ".....XXXXXXXXXXXXXXX........XXXXXXXXXXXXXXX.....",
    ".....XXXXXXXXXXXXXXX........XXXXXXXXXXXXXXX.....",
    ".....XXXXXXXXXXXXXXXX......XXXXXXXXXXXXXXXX.....",
    ".....XXXXXXXXXXXXXXXX......XXXXXXXXXXXXXXXX.....",
    ".....XXXXXXXXXXXXXXXXX....XXXXXXXXXXXXXXXXX.....",
    ".....XXXXXXXXXXXXXXXXX....XXXXXXXXXXXXXXXXX.....",
    ".....XXXXXXXXXXXXXXXXX....XXXXXXXXXXXXXXXXX.....",
    ".....XXXXXXXXXXXXXXXXX....XXXXXXXXXXXXXXXXX.....",
    ".....XXXXXXXXXXXXXXXXX....XXXXXXXXXXXXXXXXX.....",
    ".....XXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXX.....",
    ".....XXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXX.....",
    ".....XXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXX.....",
    ".....XXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXX.....",
    ".....XXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXX.....",
    "......XXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXX......",
    ".......XXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXX.......",
    "................................................",
    "................................................",
};

}  // namespace

const Picture& FreeSegmentPicture() {
  static const Picture picture = PictureFromArt(kFreeSegment);
  return picture;
}

const Picture& UsedSegmentPicture() {
  static const Picture picture(11, 8, kBlack);
  return picture;
}

const Picture* HealthIconPicture(std::int32_t health) {
  static const std::array<Picture, 4> icons = {
      PictureFromArt(kHealthGood), PictureFromArt(kHealthCaution), PictureFromArt(kHealthBad),
      PictureFromArt(kHealthUnknown)};
  if (health < 0 || health > 3) return nullptr;
  return &icons[static_cast<std::size_t>(health)];
}

const Picture& LockIconPicture() {
  static const Picture picture = PictureFromArt(kLock);
  return picture;
}

const Picture& PadlockPicture() {
  static const Picture picture = PictureFromArt(kPadlock);
  return picture;
}

}  // namespace kuv
