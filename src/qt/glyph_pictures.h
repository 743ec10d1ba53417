// The user glyphs' pictures on screen: reading a picture file the user picked in
// any format Qt reads (BMP files keep their colour depth and palette; any other
// picture becomes a 24-bit BMP whose transparent pixels are fuchsia, the mask
// colour of user glyphs), and the library's BMP images as QImages for the glyph
// image list.
#pragma once

#include <QImage>
#include <string>
#include <vector>

#include "glyphs/user_glyph_library.h"

namespace qb::qt {

// The picture at path: its size, and its BMP form when it is no larger than a glyph
// (a larger one is not decoded). Throws EInvalidGraphic for a file that is no
// picture, EFOpenError for one that cannot be read.
glyphs::TGlyphPicture ReadGlyphPicture(const std::string& path);

// The glyph's image; a null image for a glyph without a readable picture.
QImage UserGlyphImage(const glyphs::TUserGlyph& glyph);
std::vector<QImage> UserGlyphImages(const std::vector<glyphs::TUserGlyph>& glyphs);

// The picture dialog's filter: every format Qt reads first, then bitmaps, then all
// files, in the "Description|pattern;pattern|..." form of the file dialog.
std::string PictureFileFilter();

}  // namespace qb::qt
