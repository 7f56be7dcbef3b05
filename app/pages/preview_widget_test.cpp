// A preview is converted and drawn again only when its picture or its size changed.
#include "app/pages/preview_widget.h"

#include <gtest/gtest.h>

namespace kuv {
namespace {

TEST(ShownPicture, ChangesWithThePictureOrItsSizeOnly) {
  Picture picture(96, 96);
  Picture oneDot = picture;
  oneDot.at(95, 95) = kBlack;
  struct Case {
    const char* name;
    Picture picture;
    QSize size;
    bool changed;
  };
  const Case cases[] = {
      {"first", picture, {192, 192}, true},  {"same again", picture, {192, 192}, false},
      {"one dot", oneDot, {192, 192}, true}, {"larger", oneDot, {288, 288}, true},
      {"back", picture, {288, 288}, true},   {"back again", picture, {288, 288}, false},
  };
  ShownPicture shown;
  for (const Case& c : cases) EXPECT_EQ(shown.Changed(c.picture, c.size), c.changed) << c.name;
}

TEST(PreviewWidget, TheSamePictureKeepsTheImageItHas) {
  PreviewWidget widget(96);
  Picture picture(96, 96);
  picture.at(3, 4) = kBlack;
  widget.SetPicture(picture);
  const qint64 drawn = widget.image().cacheKey();
  widget.SetPicture(picture);
  EXPECT_EQ(widget.image().cacheKey(), drawn);
  picture.at(3, 4) = kWhite;
  widget.SetPicture(picture);
  EXPECT_NE(widget.image().cacheKey(), drawn);
  EXPECT_EQ(widget.image().pixelColor(3, 4), QColor(Qt::white));
  // No picture is a white one.
  const qint64 white = widget.image().cacheKey();
  widget.SetPicture(std::nullopt);
  EXPECT_EQ(widget.image().cacheKey(), white);
}

}  // namespace
}  // namespace kuv
