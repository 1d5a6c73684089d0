// The 16 x 16 glyphs of the menus and the tool bar, and the program icon, drawn in code so
// the program ships no image files of its own.
#pragma once

#include <QIcon>
#include <QPixmap>

namespace kelvo {

// Glyph indices of the image list.
enum Glyph {
    GlyphCut = 0, GlyphCopy = 1, GlyphPaste = 2, GlyphUndo = 3, GlyphRedo = 4, GlyphDelete = 5,
    GlyphNew = 6, GlyphOpen = 7, GlyphSave = 8, GlyphPreview = 9, GlyphHand = 10, GlyphHelp = 11,
    GlyphFind = 12, GlyphFindArrows = 13, GlyphScanner = 14, GlyphTileHorizontal = 15,
    GlyphTileVertical = 16, GlyphCascade = 17, GlyphCount = 18
};

QPixmap glyphPixmap(int index);
QIcon glyphIcon(int index);
// A flatbed scanner with its lid open; 32 x 32 for the window, 64 x 64 for the Info box.
QPixmap programIcon(int size);

} // namespace kelvo
