// Image file operations with the imaging library's contract: results are 1 on success or a
// negative code. Reading goes through Qt's image readers (PCX through our own handler);
// format codes and results are shared with storing (imaging/ImageSave, scan/SaveBitmap).
#pragma once

#include "imaging/Bitmap.h"

#include <QString>
#include <cstdint>

class QPainter;
class QRect;
class QTransform;

namespace kelvo {

// Format codes of L_SaveBitmap.
inline constexpr int FILE_PCX = 1;
inline constexpr int FILE_GIF = 2;
inline constexpr int FILE_BMP = 6;
inline constexpr int FILE_JPEG = 10;
inline constexpr int FILE_TIF = 17;
inline constexpr int FILE_PNG = 75;

// Results other than 1 (SUCCESS). Listed for users in the README.
inline constexpr int SUCCESS = 1;
inline constexpr int ERROR_FILE_NOT_FOUND = -10;   // no such file
inline constexpr int ERROR_FILE_READ = -11;        // unreadable, unknown or corrupted image file
inline constexpr int ERROR_NO_IMAGE = -12;         // the bitmap holds no image
inline constexpr int ERROR_BAD_BITS = -13;         // bits per pixel not 1, 8 or 24
inline constexpr int ERROR_FILE_CREATE = -14;      // cannot create the file in the target directory
inline constexpr int ERROR_FILE_WRITE = -15;       // writing failed (disk full, I/O error)
inline constexpr int ERROR_ENCODER = -16;          // the codec refused the image
inline constexpr int ERROR_FILE_RENAME = -17;      // the complete file could not be moved into place
inline constexpr int ERROR_SYMLINK = -18;          // a symbolic link stands at the name
inline constexpr int ERROR_NO_MEMORY = -19;        // not enough memory for the image
inline constexpr int ERROR_INV_STRUCT_SIZE = -789; // file information record of an unknown size

// What a file information query tells. StructSize must be set by the caller.
struct FileInfo {
    uint32_t StructSize = 0;
    int Format = 0;       // one of the FILE_ codes, 0 when Qt names a format we have no code for
    int Width = 0;
    int Height = 0;
    int BitsPerPixel = 0;
    int XResolution = 0;
    int YResolution = 0;
    int ViewOrientation = 1;
};
inline constexpr uint32_t FILEINFO_SIZE = 2197;
inline constexpr uint32_t FILEINFO_SIZE_OLD = 2172;

int L_FileInfo(const QString& fileName, FileInfo& info, uint32_t structSize);
// Loads the whole image into `bitmap` (freed first); fills its fields and view orientation.
int L_LoadFile(const QString& fileName, Bitmap& bitmap, const FileInfo* info = nullptr);
int L_InvertBitmap(Bitmap& bitmap);
void L_FreeBitmap(Bitmap& bitmap);
// Image-to-display mapping of a view orientation (1..8) for an image of w x h pixels.
QTransform orientationTransform(int orientation, int w, int h);
// Paints the bitmap, displayed by its view orientation, into `dest` (the displayed image's
// rectangle in device coordinates), drawing only what lies inside `clip`.
int L_PaintDC(QPainter& painter, const Bitmap& bitmap, const QRect& dest, const QRect& clip);

// Raises Qt's allocation limit so a 600 dpi A4 colour page opens; called before any load.
void ensureImageReadersReady();

} // namespace kelvo
