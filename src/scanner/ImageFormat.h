#pragma once

// The output format the scanner control writes an image in: a bit depth and a file type.

enum class ImageDepth { Bits8, Bits16 };
enum class ImageFileType { DIB, RAW, DCM };

struct TImageFormat {
    ImageDepth Depth = ImageDepth::Bits8;
    ImageFileType FileType = ImageFileType::DIB;
};
