// User glyphs through the real main window: a PNG added as a glyph shows in the
// legend and the explorer, is given to an item with Change Glyph, and the item
// loses it when the glyph is deleted. Also the picture reader and the image cell.
#include <gtest/gtest.h>

#include <QDockWidget>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QTest>
#include <QToolButton>

#include "app/speedbar.h"
#include "platform/picture.h"
#include "qt/glyph_pictures.h"
#include "qt/main_window_fixture.h"
#include "qt/speedbar_widget.h"

namespace qb::qt {
namespace {

// 8 x 8, red, with a transparent top-left pixel.
std::string RedPng(const qbtest::TempDir& dir) {
  QImage image(8, 8, QImage::Format_ARGB32);
  image.fill(QColor(255, 0, 0));
  image.setPixelColor(0, 0, Qt::transparent);
  const std::string path = dir / "star.png";
  EXPECT_TRUE(image.save(QString::fromStdString(path), "PNG"));
  return path;
}

class UserGlyphWindowTest : public MainWindowTest {
 protected:
  // The glyph index an item's comment holds on disk (-2: none).
  long long ReadGlyphIndexOf(const std::string& path) {
    for (const TDiskEntry& e : Disk())
      if (e.Name == path) return store::ReadGlyphIndex(e.Comment).value_or(-2);
    ADD_FAILURE() << path << " is not in the cabinet";
    return -2;
  }
};

TEST_F(UserGlyphWindowTest, AUserGlyphIsAddedShownAssignedAndDeleted) {
  const std::string png = RedPng(dir_);
  ui_.ChooseFile(png).Input("Star");
  window_->Run(TCommand::AddUserGlyphsMiClick);
  EXPECT_TRUE(ui_.Boxes().empty());
  ASSERT_EQ(window_->Form().UserGlyphNames(), (std::vector<std::string>{"Star"}));

  // The library holds it as a BMP, the transparent pixel turned fuchsia.
  const glyphs::TUserGlyph& stored = window_->Form().UserGlyphs().Glyphs().at(0);
  const TDib dib = TDib::ReadBmp(stored.Bitmap);
  EXPECT_EQ(dib.Width(), 8);
  EXPECT_EQ(dib.PixelColor(0, 0), Rgb(255, 0, 255));
  EXPECT_EQ(dib.PixelColor(1, 1), Rgb(255, 0, 0));

  // The glyph image list has it, centred in its cell, fuchsia transparent.
  ASSERT_EQ(window_->GlyphImages().Count(), 23);
  const QImage cell = window_->GlyphImages().Glyph(22).toImage();
  ASSERT_FALSE(cell.isNull());
  const int scale = cell.width() / 16;
  EXPECT_EQ(qAlpha(cell.pixel(1 * scale, 1 * scale)), 0);  // outside the 8 x 8 picture
  EXPECT_EQ(cell.pixelColor(10 * scale, 10 * scale).red(), 255);
  EXPECT_EQ(qAlpha(cell.pixel(10 * scale, 10 * scale)), 255);

  // The legend lists it after the fixed glyphs.
  ui_.GlyphOk(-1);
  window_->Run(TCommand::LegendMiClick);
  const TGlyphDialogRequest& legend = ui_.GlyphDialogs().back();
  ASSERT_EQ(legend.Rows.size(), 23u);
  EXPECT_EQ(legend.Rows.back().Caption, "Star");
  EXPECT_EQ(legend.Rows.back().ImageIndex, 22);

  // Change Glyph gives it to an item: on disk and in the explorer's row.
  TTreeNode* item = FindNodeByPath(window_->Form().DockableForm().TreeView1(), "NewItems\\Item0");
  ASSERT_NE(item, nullptr);
  window_->Form().DockableForm().TreeView1().SetSelected(item);
  ui_.GlyphOk(19);  // 11 rows for 2..12, 8 for 14..21, then glyph 22
  window_->Run(TCommand::ChangeGlyphMiClick);
  EXPECT_EQ(ReadGlyphIndexOf("NewItems\\Item0"), 22);
  EXPECT_EQ(item->ImageIndex(), 22);

  // Deleting it with the tool bar's button re-indexes the open cabinet: the item
  // loses its glyph and shows the default one; the other item keeps its own.
  const int item_index = FindSpeedItem("DelUserGlyph");
  ASSERT_TRUE(window_->Form().SpeedBar1().Insert(item_index, 0));
  QCoreApplication::processEvents();  // the bar lays its buttons out
  QToolButton* button = window_->SpeedBar()->Button(item_index);
  ASSERT_NE(button, nullptr);
  EXPECT_TRUE(button->isEnabled());
  ui_.GlyphOk(0, {0}).Answer(MsgAnswer::No).Answer(MsgAnswer::No);  // the Re-Open list, another cabinet
  QTest::mouseClick(button, Qt::LeftButton);
  EXPECT_EQ(ReadGlyphIndexOf("NewItems\\Item0"), -1);
  EXPECT_EQ(ReadGlyphIndexOf("Code\\Snippet"), 15);
  EXPECT_TRUE(window_->Form().UserGlyphNames().empty());
  EXPECT_EQ(window_->GlyphImages().Count(), 22);
  TTreeNode* rebuilt = FindNodeByPath(window_->Form().DockableForm().TreeView1(), "NewItems\\Item0");
  ASSERT_NE(rebuilt, nullptr);
  EXPECT_EQ(rebuilt->ImageIndex(), 2);
  EXPECT_EQ(window_->Form().Zip1().ZipName(), cabinet_);
  EXPECT_EQ(ui_.Boxes().size(), 2u);  // the two questions
}

TEST(GlyphPictures, PicturesOfAnyQtFormatAreReadAndLargeOnesOnlyMeasured) {
  qbtest::TempDir dir;
  QImage big(40, 20, QImage::Format_RGB32);
  big.fill(Qt::blue);
  const std::string big_png = dir / "big.png";
  ASSERT_TRUE(big.save(QString::fromStdString(big_png), "PNG"));
  const glyphs::TGlyphPicture measured = ReadGlyphPicture(big_png);
  EXPECT_EQ(measured.Width, 40);
  EXPECT_EQ(measured.Height, 20);
  EXPECT_TRUE(measured.Bitmap.empty());

  // A 4-bit BMP keeps its depth.
  TDib four(16, 16, 4);
  four.SetPalette({Rgb(0, 0, 0), Rgb(255, 0, 255)});
  const std::vector<uint8_t> bytes = four.WriteBmp();
  const std::string bmp = dir / "four.bmp";
  {
    QFile file(QString::fromStdString(bmp));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
  }
  EXPECT_EQ(TDib::ReadBmp(ReadGlyphPicture(bmp).Bitmap).BitCount(), 4);

  const std::string junk = dir / "junk.png";
  {
    QFile file(QString::fromStdString(junk));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("\x89PNG but not really");
  }
  EXPECT_THROW(ReadGlyphPicture(junk), EInvalidGraphic);
  EXPECT_THROW(ReadGlyphPicture(dir / "missing.png"), Exception);

  const std::string filter = PictureFileFilter();
  EXPECT_EQ(filter.rfind("Pictures|", 0), 0u);
  EXPECT_NE(filter.find("*.png"), std::string::npos);
  EXPECT_NE(filter.find("*.bmp"), std::string::npos);
}

}  // namespace
}  // namespace qb::qt
