#include "app/compose/fonts.h"

#include <gtest/gtest.h>

#include "app/compose/renderer.h"

namespace kuv {
namespace {

// Bounding box of the black dots, or an empty rectangle.
Rect InkBox(const Picture& picture) {
  Rect box{picture.width, picture.height, 0, 0};
  for (int y = 0; y < picture.height; ++y) {
    for (int x = 0; x < picture.width; ++x) {
      if (picture.at(x, y) != kBlack) continue;
      box = {std::min(box.left, x), std::min(box.top, y), std::max(box.right, x + 1),
             std::max(box.bottom, y + 1)};
    }
  }
  return box;
}

class FontsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { fonts_ = Fonts::Load(u"Tahoma", 14, 13).release(); }
  static void TearDownTestSuite() {
    delete fonts_;
    fonts_ = nullptr;
  }
  void SetUp() override {
    if (fonts_->faceFile().empty()) GTEST_SKIP() << "no font files on this machine";
  }
  static Fonts* fonts_;
};

Fonts* FontsTest::fonts_ = nullptr;

TEST_F(FontsTest, UnknownFaceFallsBackInsteadOfFailing) {
  const auto fonts = Fonts::Load(u"No Such Face 12345", 14, 13);
  EXPECT_FALSE(fonts->faceFile().empty());
  Picture picture(96, 96);
  EXPECT_GT(fonts->DrawText(picture, u"Abc", 1, 1, {}), 0);
  EXPECT_NE(InkBox(picture).right, 0);
}

TEST_F(FontsTest, CellIsTheRequestedHeight) {
  EXPECT_EQ(fonts_->cellHeight(FontSize::kLarge), 14);
  EXPECT_EQ(fonts_->cellHeight(FontSize::kSmall), 13);
}

// The opaque cell, drawn black with white ink, shows where the run lies for each escapement.
TEST_F(FontsTest, CellRunsAlongTheEscapement) {
  struct Case {
    int escapement, x, y;
  } cases[] = {{0, 10, 10}, {900, 10, 90}, {1800, 90, 90}, {2700, 90, 10}};
  for (const Case& c : cases) {
    Picture picture(100, 100);
    const TextStyle style{FontSize::kLarge, c.escapement, kWhite, kBlack};
    const int length = fonts_->DrawText(picture, u"MMMM", c.x, c.y, style);
    ASSERT_GT(length, 20);
    const int cell = fonts_->cellHeight(FontSize::kLarge);
    Rect expected;
    switch (c.escapement) {
      case 0:
        expected = {c.x, c.y, c.x + length, c.y + cell};
        break;
      case 900:
        expected = {c.x, c.y - length, c.x + cell, c.y};
        break;
      case 1800:
        expected = {c.x - length, c.y - cell, c.x, c.y};
        break;
      default:
        expected = {c.x - cell, c.y, c.x, c.y + length};
        break;
    }
    const Rect box = InkBox(picture);
    EXPECT_EQ(box.left, expected.left) << c.escapement;
    EXPECT_EQ(box.top, expected.top) << c.escapement;
    EXPECT_EQ(box.right, expected.right) << c.escapement;
    EXPECT_EQ(box.bottom, expected.bottom) << c.escapement;
  }
}

// Turned text must be the upright text turned, letter tops where the escapement puts them. The
// upright text may come from the face's embedded bitmaps and turned text from its outlines, so
// single dots may differ; a mirrored or misplaced run differs in most of its dots.
TEST_F(FontsTest, TurnedTextIsUprightTextTurned) {
  Picture upright(96, 96);
  fonts_->DrawText(upright, u"Tg4", 6, 10, {});
  const Rect box = InkBox(upright);
  int ink = 0;
  for (std::uint8_t dot : upright.dots) ink += dot == kBlack;
  struct Case {
    int escapement, x, y, turnBack;
  } cases[] = {{900, 10, 90, -90}, {1800, 90, 86, 180}, {2700, 86, 6, 90}};
  for (const Case& c : cases) {
    Picture turned(96, 96);
    fonts_->DrawText(turned, u"Tg4", c.x, c.y, TextStyle{FontSize::kLarge, c.escapement});
    RotatePicture(turned, c.turnBack);
    int differences = 0;
    for (std::size_t i = 0; i < upright.dots.size(); ++i) {
      differences += upright.dots[i] != turned.dots[i];
    }
    EXPECT_LT(differences, ink / 2) << c.escapement;
    const Rect turnedBox = InkBox(turned);
    EXPECT_NEAR(turnedBox.left, box.left, 1) << c.escapement;
    EXPECT_NEAR(turnedBox.top, box.top, 1) << c.escapement;
    EXPECT_NEAR(turnedBox.right, box.right, 1) << c.escapement;
    EXPECT_NEAR(turnedBox.bottom, box.bottom, 1) << c.escapement;
  }
}

TEST_F(FontsTest, NothingIsDrawnOutsideTheClip) {
  Picture picture(96, 96);
  const TextStyle style{FontSize::kLarge, 0, kBlack, kBlack};
  fonts_->DrawText(picture, u"WWWWWWWWWWWWW", 40, 90, style, Rect{0, 0, 80, 96});
  const Rect box = InkBox(picture);
  EXPECT_EQ(box.left, 40);
  EXPECT_EQ(box.right, 80);
  EXPECT_EQ(box.top, 90);
  EXPECT_EQ(box.bottom, 96);
}

TEST_F(FontsTest, JapaneseTextFindsAGlyphFace) {
  Picture picture(96, 96);
  fonts_->DrawText(picture, u"日本", 1, 1, {});
  EXPECT_GT(InkBox(picture).right, 10);
}

}  // namespace
}  // namespace kuv
