#include "clipboard/payload.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "clipboard/clip_formats.h"
#include "clipboard/clipboard_viewer.h"
#include "support/test_support.h"

namespace qb {
namespace {

using Bytes = std::vector<uint8_t>;
Bytes B(std::string_view s) {
  return Bytes(s.begin(), s.end());
}

const Bytes kPng = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0, 0, 0, 13, 'I', 'H', 'D', 'R',
                    0,    0,   0,   4,   0,    0,    0,    3,    8, 6, 0, 0,  0,   1,   2,   3};
const Bytes kWmf = {1, 0, 9, 0, 0, 3, 12, 0, 0, 0, 0, 0, 3, 0, 0, 0, 0, 0, 3, 0, 0, 0, 0, 0};

class PayloadTest : public ::testing::Test {
 protected:
  PayloadTest() { RegisterProgramFormats(); }
  Bytes Encode(uint32_t format) {
    TMemoryStream stream;
    EXPECT_EQ(EncodePayload(clip, format, stream, temp), TPayloadResult::Done);
    return stream.Bytes();
  }
  void Put(const std::function<void()>& fill) {
    TClipboardLock lock(clip);
    clip.Empty();
    fill();
  }

  qbtest::TempDir dir;
  std::string temp = dir / "cache/[@@]";
  TMemoryClipboard clip;
};

TEST_F(PayloadTest, EachFormatHasItsPayloadShape) {
  clip.PutText("abc", 2);
  EXPECT_EQ(Encode(CF_TEXT), B(std::string_view("abc\0\0\0", 6)));  // the zero byte and the slack

  TDib dib(3, 2, 8);
  dib.SetPalette({Rgb(9, 8, 7), Rgb(1, 2, 3)});
  dib.SetPixel(1, 1, 1);
  Put([&] { clip.SetBitmap(dib); });
  const Bytes bmp = Encode(CF_BITMAP);
  ASSERT_GE(bmp.size(), 2u);
  EXPECT_EQ(bmp[0], 'B');
  EXPECT_EQ(bmp[1], 'M');
  EXPECT_EQ(TDib::ReadBmp(bmp), dib);

  // Only the plain metafile form on the clipboard: the payload is still an EMF.
  Put([&] { clip.SetMetafile(CF_METAFILEPICT, TMetafile::FromWmf(kWmf, 500, 400)); });
  const Bytes emf = Encode(CF_METAFILEPICT);
  ASSERT_TRUE(ReadEmfHeader(emf).has_value());
  EXPECT_EQ(TMetafile::Read(emf).EmbeddedWmf(), kWmf);

  Put([&] { clip.SetPalette({{1, 2, 3, 0}}); });
  EXPECT_EQ(ReadRiffPalette(Encode(CF_PALETTE)), (TLogPalette{{1, 2, 3, 0}}));

  Put([&] { clip.SetBlock(CF_WAVE, B("RIFF....WAVE")); });
  EXPECT_EQ(Encode(CF_WAVE), B("RIFF....WAVE"));
  EXPECT_TRUE(Encode(CF_TEXT).empty());  // no data of that format: nothing
}

TEST_F(PayloadTest, DelphiPictureGoesThroughTheTemporaryFileAndComesBackByItsSignature) {
  const uint32_t png_format = clip.Registry().Register("image/png");
  Put([&] { clip.SetBlock(png_format, kPng); });
  EXPECT_EQ(DetectClipboardFormat(clip), DelphiPictureFormat(clip));
  const Bytes payload = Encode(DelphiPictureFormat(clip));
  EXPECT_EQ(payload, kPng);
  EXPECT_FALSE(std::filesystem::exists(temp));

  clip.PutText("keep?");
  TMemoryStream stream(payload);
  ASSERT_EQ(DecodePayloadToClipboard(clip, DelphiPictureFormat(clip), stream, temp), TPayloadResult::Done);
  EXPECT_FALSE(std::filesystem::exists(temp));
  EXPECT_FALSE(clip.HasFormat(CF_TEXT));  // a picture empties the clipboard
  TClipboardLock lock(clip);
  EXPECT_EQ(clip.GetBlock(DelphiPictureFormat(clip)), kPng);
  EXPECT_EQ(clip.GetBlock(png_format), kPng);
}

TEST_F(PayloadTest, TemporaryFileFailuresAreReportedNotThrown) {
  qbtest::WriteFileText(dir / "blocker", "a file where a folder should be");
  const std::string bad = dir / "blocker/[@@]";
  Put([&] { clip.SetBlock(DelphiPictureFormat(clip), kPng); });
  TMemoryStream stream;
  EXPECT_EQ(EncodePayload(clip, DelphiPictureFormat(clip), stream, bad), TPayloadResult::TempFileError);
  EXPECT_EQ(stream.Size(), 0u);
  TMemoryStream payload(kPng);
  EXPECT_EQ(DecodePayloadToClipboard(clip, DelphiPictureFormat(clip), payload, bad),
            TPayloadResult::TempFileError);
  TViewerForm pane;
  EXPECT_EQ(DecodePayloadForView(clip, DelphiPictureFormat(clip), payload, bad, pane),
            TPayloadResult::TempFileError);
  EXPECT_TRUE(pane.Memo1Visible());
}

TEST_F(PayloadTest, DetectionFollowsTheOrderOfPreference) {
  const uint32_t icon = DelphiIconFormat(clip), component = DelphiComponentFormat(clip);
  struct Case {
    std::function<void()> fill;
    uint32_t expected;
  };
  const Case cases[] = {
      {[&] {
         clip.SetBitmap(TDib(1, 1, 24));
         clip.SetBlock(CF_TEXT, B(std::string_view("t\0", 2)));
       },
       CF_TEXT},
      {[&] { clip.SetBlock(CF_OEMTEXT, B(std::string_view("t\0", 2))); }, CF_TEXT},  // synthesised text
      {[&] {
         clip.SetPalette({});
         clip.SetBitmap(TDib(1, 1, 24));
       },
       CF_BITMAP},
      {[&] { clip.SetMetafile(CF_ENHMETAFILE, TMetafile::FromWmf(kWmf, 1, 1)); }, CF_METAFILEPICT},
      {[&] {
         clip.SetBlock(component, B("TPF0"));
         clip.SetBlock(icon, B("ico"));
       },
       icon},
      {[&] {
         clip.SetBlock(CF_WAVE, B("w"));
         clip.SetBlock(component, B("TPF0"));
       },
       component},
      {[&] {
         clip.SetBlock(CF_WAVE, B("w"));
         clip.SetPalette({});
       },
       CF_PALETTE},
      {[&] { clip.SetBlock(CF_WAVE, B("w")); }, CF_WAVE},
      {[&] { clip.SetBlock(clip.Registry().Register("text/html"), B("<b>")); }, 0},
      {[] {}, 0},
  };
  for (size_t k = 0; k < std::size(cases); ++k) {
    Put(cases[k].fill);
    EXPECT_EQ(DetectClipboardFormat(clip), cases[k].expected) << "case " << k;
  }
}

TEST_F(PayloadTest, RawLoadKeepsOtherFormatsPictureLoadEmptiesAndBadPayloadsChangeNothing) {
  Put([&] { clip.SetBitmap(TDib(1, 1, 24)); });
  TMemoryStream text(B("abc\r\n"));
  ASSERT_EQ(DecodePayloadToClipboard(clip, CF_TEXT, text, temp), TPayloadResult::Done);
  EXPECT_EQ(clip.RealFormats(), (std::vector<uint32_t>{CF_BITMAP, CF_TEXT}));
  {
    TClipboardLock lock(clip);
    EXPECT_EQ(clip.GetBlock(CF_TEXT), B("abc\r\n"));  // no zero byte added
  }
  TMemoryStream bmp(TDib(2, 2, 24).WriteBmp());
  ASSERT_EQ(DecodePayloadToClipboard(clip, CF_BITMAP, bmp, temp), TPayloadResult::Done);
  EXPECT_EQ(clip.RealFormats(), (std::vector<uint32_t>{CF_BITMAP}));

  clip.PutText("before");
  TMemoryStream broken(B("BM garbage"));
  EXPECT_THROW(DecodePayloadToClipboard(clip, CF_BITMAP, broken, temp), EInvalidGraphic);
  TMemoryStream not_a_metafile(B("not a metafile at all, not even close"));
  EXPECT_THROW(DecodePayloadToClipboard(clip, CF_METAFILEPICT, not_a_metafile, temp), EInvalidGraphic);
  EXPECT_EQ(clip.RealFormats(), (std::vector<uint32_t>{CF_TEXT}));
  TMemoryStream any(B("x"));
  EXPECT_EQ(DecodePayloadToClipboard(clip, 0, any, temp), TPayloadResult::Refused);
}

TEST_F(PayloadTest, StreamToClipboardFormatTakesAtMostSizeBytesFromThePosition) {
  TMemoryStream stream(B("0123456789"));
  stream.SetPosition(4);
  ASSERT_TRUE(StreamToClipboardFormat(clip, CF_WAVE, stream, 3));
  stream.SetPosition(100);  // past the end: an empty block
  ASSERT_TRUE(StreamToClipboardFormat(clip, CF_TEXT, stream, 10));
  TClipboardLock lock(clip);
  EXPECT_EQ(clip.GetBlock(CF_WAVE), B("456"));
  EXPECT_EQ(clip.GetBlock(CF_TEXT), Bytes{});
}

TEST_F(PayloadTest, ViewShowsTextUpToTheZeroByteAndPicturesAsPictures) {
  TViewerForm pane;
  TMemoryStream text(B(std::string_view("one\r\ntwo\nthree\0slack\r\nmore", 25)));
  DecodePayloadForView(clip, CF_TEXT, text, temp, pane);
  EXPECT_EQ(pane.Memo1Text(), "one\r\ntwo\r\nthree");
  EXPECT_TRUE(pane.Memo1Visible());
  TMemoryStream oem(B(std::string_view("\x82\0", 2)));
  DecodePayloadForView(clip, CF_OEMTEXT, oem, temp, pane);
  EXPECT_EQ(pane.Memo1Text(), "\xC3\xA9");

  const Bytes bmp = TDib(2, 2, 24).WriteBmp();
  TMemoryStream picture(bmp);
  DecodePayloadForView(clip, CF_BITMAP, picture, temp, pane);
  EXPECT_TRUE(pane.Image1Visible());
  EXPECT_FALSE(pane.Memo1Visible());
  EXPECT_EQ(pane.Picture(), std::string(bmp.begin(), bmp.end()));

  TMemoryStream broken(B("BM"));
  EXPECT_THROW(DecodePayloadForView(clip, CF_BITMAP, broken, temp, pane), EInvalidGraphic);
  EXPECT_TRUE(pane.Image1Visible());  // unchanged

  TMemoryStream png(kPng);
  DecodePayloadForView(clip, DelphiPictureFormat(clip), png, temp, pane);
  EXPECT_TRUE(std::filesystem::exists(temp));  // left for the pane
  TMemoryStream wave(B("RIFF"));
  DecodePayloadForView(clip, CF_WAVE, wave, temp, pane);
  EXPECT_TRUE(pane.Memo1Visible());
  EXPECT_EQ(pane.Memo1Text(), "");
}

// --- the live view -----------------------------------------------------------------------

TEST_F(PayloadTest, ViewerFollowsTheClipboardAndChoosesWhatToShow) {
  TClipboardViewer viewer(clip);
  int changes = 0;
  viewer.OnChange = [&] { ++changes; };
  viewer.JoinChain();
  EXPECT_EQ(changes, 1);  // joining runs one change
  EXPECT_EQ(viewer.ViewFormat(), cvEmpty);
  EXPECT_EQ(viewer.Shown().Shows, TShownContent::Control::None);

  clip.PutText("shown");
  EXPECT_EQ(viewer.ViewFormat(), cvDefault);
  EXPECT_EQ(viewer.Shown().DisplayKind, cvText);
  EXPECT_EQ(viewer.Shown().Text, "shown");

  Put([&] { clip.SetBlock(CF_OEMTEXT, B(std::string_view("\x82\0", 2))); });
  viewer.SetViewFormat(cvOemText);
  viewer.Rebuild();
  EXPECT_EQ(viewer.Shown().FontName, "Terminal");
  EXPECT_EQ(viewer.Shown().Text, "\xC3\xA9");
  Put([&] { clip.SetBlock(CF_WAVE, B("w")); });  // the OEM view's format is gone
  EXPECT_EQ(viewer.ViewFormat(), cvDefault);
  EXPECT_EQ(viewer.Shown().Text, kUnknownFormatText);

  Put([&] { clip.SetBitmap(TDib(5, 4, 24)); });
  EXPECT_EQ(viewer.Shown().Shows, TShownContent::Control::Picture);
  EXPECT_EQ(viewer.Shown().Picture.Width(), 5);

  Put([&] { clip.SetBlock(DelphiComponentFormat(clip), B("TPF0\x06TLabel\x06Label1")); });
  EXPECT_EQ(viewer.Shown().Text, "object Label1: TLabel");
  Put([&] {
    clip.SetBlock(DelphiIconFormat(clip), B("not an icon"));
  });  // broken data is reported, not thrown
  EXPECT_EQ(viewer.Shown().Shows, TShownContent::Control::Text);
  EXPECT_NE(viewer.Shown().Text.find(kInvalidIconText), std::string::npos);
  viewer.LeaveChain();
  clip.PutText("unseen");
  EXPECT_EQ(changes, 7);
}

TEST_F(PayloadTest, PaletteGridFitsColumnsBesideTheScrollBar) {
  TLogPalette palette(256);
  TPaletteGrid grid = LayoutPaletteGrid(palette, 216, 16);  // 200 pixels: 10 columns
  EXPECT_EQ(grid.ColCount, 10);
  EXPECT_EQ(grid.RowCount, 26);
  grid = LayoutPaletteGrid(TLogPalette(300), 10, 16);  // narrower than one cell, more than 256 entries
  EXPECT_EQ(grid.ColCount, 1);
  EXPECT_EQ(grid.RowCount, 256);
  EXPECT_EQ(grid.Cells.size(), 256u);
  EXPECT_EQ(LayoutPaletteGrid({}, 400, 16).RowCount, 1);

  TClipboardViewer viewer(clip);
  viewer.JoinChain();
  Put([&] { clip.SetPalette(TLogPalette(3, TPaletteEntry{1, 2, 3, 0})); });
  EXPECT_EQ(viewer.Shown().Shows, TShownContent::Control::PaletteGrid);
  EXPECT_EQ(viewer.Shown().Palette.Cells.size(), 3u);
}

}  // namespace
}  // namespace qb
