#include "platform/clipboard.h"

#include <gtest/gtest.h>

namespace qb {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes B(std::string_view s) {
  return Bytes(s.begin(), s.end());
}

TEST(MemoryClipboard, ASecondOpenFailsAndEveryAccessNeedsAnOpenClipboard) {
  TMemoryClipboard clip;
  EXPECT_THROW(clip.GetBlock(CF_TEXT), EClipboardError);
  EXPECT_THROW(clip.SetBlock(CF_TEXT, B("x")), EClipboardError);
  EXPECT_THROW(clip.Empty(), EClipboardError);
  clip.Open();
  try {
    clip.Open();
    FAIL() << "a second open succeeded";
  } catch (const EClipboardError& e) {
    EXPECT_STREQ(e.what(), "Cannot open clipboard");
  }
  clip.Close();
  clip.Close();  // closing a closed clipboard does nothing
  EXPECT_NO_THROW(TClipboardLock lock(clip));
  EXPECT_FALSE(clip.IsOpen());
}

TEST(MemoryClipboard, BlocksKeepTheirSlackAndSetReplacesOneFormatOnly) {
  TMemoryClipboard clip;
  clip.PutText("abc", 5);
  const uint32_t other = clip.Registry().Register("Quiverbox Test Format");
  {
    TClipboardLock lock(clip);
    EXPECT_EQ(clip.GetBlock(CF_TEXT), B(std::string_view("abc\0\0\0\0\0\0", 9)));
    EXPECT_TRUE(clip.SetBlock(other, B("one")));
    EXPECT_TRUE(clip.SetBlock(CF_WAVE, B("RIFF")));
    EXPECT_TRUE(clip.SetBlock(other, B("two")));  // replaced in place
    EXPECT_FALSE(clip.SetBlock(0, B("refused")));
    EXPECT_FALSE(clip.SetBlock(CF_BITMAP, B("not a block")));
    EXPECT_EQ(clip.GetBlock(other), B("two"));
  }
  EXPECT_EQ(clip.RealFormats(), (std::vector<uint32_t>{CF_TEXT, other, CF_WAVE}));
  {
    TClipboardLock lock(clip);
    clip.Empty();
  }
  EXPECT_EQ(clip.FormatCount(), 0u);
  EXPECT_FALSE(clip.HasFormat(0));
}

TEST(MemoryClipboard, TextAndOemTextAreSynthesisedFromEachOther) {
  TMemoryClipboard clip;
  clip.PutText("caf\xC3\xA9 \xE2\x82\xAC", 3);  // "café €": the euro sign has no place in code page 437
  EXPECT_EQ(clip.Formats(), (std::vector<uint32_t>{CF_TEXT, CF_OEMTEXT}));
  {
    TClipboardLock lock(clip);
    EXPECT_EQ(clip.GetBlock(CF_OEMTEXT), B(std::string_view("caf\x82 ?\0", 7)));
    clip.Empty();
    clip.SetBlock(CF_OEMTEXT, B(std::string_view("\x82\xB0\0slack", 8)));
  }
  EXPECT_EQ(clip.Formats(), (std::vector<uint32_t>{CF_OEMTEXT, CF_TEXT}));
  TClipboardLock lock(clip);
  EXPECT_EQ(clip.GetBlock(CF_TEXT), B(std::string_view("\xC3\xA9\xE2\x96\x91\0", 6)));
}

TEST(MemoryClipboard, MetafileFormatsStandInForEachOtherAndObjectsAreNoBlocks) {
  TMemoryClipboard clip;
  const Bytes wmf = {1, 0, 9, 0, 0, 3, 12, 0, 0, 0, 0, 0, 3, 0, 0, 0, 0, 0, 3, 0, 0, 0, 0, 0};
  {
    TClipboardLock lock(clip);
    clip.SetMetafile(CF_METAFILEPICT, TMetafile::FromWmf(wmf, 1000, 500));
    clip.SetBitmap(TDib(2, 2, 24));
    clip.SetPalette({{1, 2, 3, 0}});
    EXPECT_THROW(clip.SetMetafile(CF_BITMAP, TMetafile()), EClipboardError);
  }
  EXPECT_TRUE(clip.HasFormat(CF_ENHMETAFILE));
  EXPECT_EQ(clip.Formats().back(), CF_ENHMETAFILE);
  TClipboardLock lock(clip);
  const auto enhanced = clip.GetMetafile(CF_ENHMETAFILE);
  ASSERT_TRUE(enhanced.has_value());
  EXPECT_EQ(enhanced->MMWidth(), 1000);
  EXPECT_FALSE(clip.GetBlock(CF_BITMAP).has_value());
  EXPECT_FALSE(clip.GetBlock(CF_PALETTE).has_value());
  EXPECT_EQ(clip.GetBitmap()->Width(), 2);
  EXPECT_EQ(clip.GetPalette()->size(), 1u);
}

TEST(MemoryClipboard, ChangesNotifyOnceAtCloseAndTheHandlerMayOpenTheClipboard) {
  TMemoryClipboard clip;
  int notified = 0;
  std::optional<Bytes> seen;
  clip.SetOnChange([&] {
    ++notified;
    TClipboardLock lock(clip);
    seen = clip.GetBlock(CF_TEXT);
  });
  {
    TClipboardLock lock(clip);
    clip.Empty();
    clip.SetBlock(CF_TEXT, B(std::string_view("a\0", 2)));
    EXPECT_EQ(notified, 0);
  }
  EXPECT_EQ(notified, 1);
  EXPECT_EQ(seen, B(std::string_view("a\0", 2)));
  { TClipboardLock lock(clip); }  // reading changes nothing
  EXPECT_EQ(notified, 1);
  // A handler that throws does not escape the close.
  clip.SetOnChange([] { throw std::runtime_error("handler failed"); });
  EXPECT_NO_THROW(clip.PutText("b"));
  EXPECT_EQ(clip.ChangeCount(), 2);
}

TEST(MemoryClipboard, PasswordManagerMarkIsRecognised) {
  TMemoryClipboard clip;
  clip.PutText("hunter2");
  EXPECT_FALSE(IsSecretClip(clip));
  clip.PutSecretText("hunter2");
  EXPECT_TRUE(IsSecretClip(clip));
  const uint32_t hint = clip.Registry().Register(kPasswordManagerHintFormat);
  {
    TClipboardLock lock(clip);
    clip.SetBlock(hint, B("public"));
  }
  EXPECT_FALSE(IsSecretClip(clip));
  {
    TClipboardLock lock(clip);
    clip.SetBlock(hint, B(std::string_view("secret\0\0\0", 9)));  // with a block's slack
  }
  EXPECT_TRUE(IsSecretClip(clip));
}

}  // namespace
}  // namespace qb
