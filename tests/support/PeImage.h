// The smallest PE32 image that the payload reader and signing tools take for a program: headers
// and one section of 0x200 bytes each, so its image ends at 0x400, where a payload begins.
#pragma once

#include <stdint.h>

#include <string>

namespace pe {

const size_t IMAGE_SIZE = 0x400;
const size_t OPTIONAL_AT = 0x58;
const size_t CERTIFICATE_ENTRY_AT = OPTIONAL_AT + 96 + 4 * 8;  // data directory 4: offset, size

inline void PutLong(std::string &bytes, size_t at, uint32_t value)
{
    for (int i = 0; i < 4; i++)
        bytes[at + i] = (char)(value >> (8 * i));
}

inline uint32_t GetLong(const std::string &bytes, size_t at)
{
    uint32_t value = 0;
    for (int i = 0; i < 4; i++)
        value |= (uint32_t)(unsigned char)bytes[at + i] << (8 * i);
    return value;
}

inline void PutWord(std::string &bytes, size_t at, uint16_t value)
{
    bytes[at] = (char)value;
    bytes[at + 1] = (char)(value >> 8);
}

inline std::string MinimalImage()
{
    std::string image(IMAGE_SIZE, '\0');
    image[0] = 'M', image[1] = 'Z';
    PutLong(image, 0x3C, 0x40);
    image.replace(0x40, 4, std::string("PE\0\0", 4));
    PutWord(image, 0x44, 0x14C);               // i386
    PutWord(image, 0x46, 1);                   // one section
    PutWord(image, 0x54, 224);                 // optional header
    PutWord(image, 0x56, 0x102);               // executable, 32-bit
    PutWord(image, OPTIONAL_AT, 0x10B);        // PE32
    PutLong(image, OPTIONAL_AT + 16, 0x1000);  // entry point
    PutLong(image, OPTIONAL_AT + 28, 0x400000);
    PutLong(image, OPTIONAL_AT + 32, 0x1000);  // section alignment
    PutLong(image, OPTIONAL_AT + 36, 0x200);   // file alignment
    PutWord(image, OPTIONAL_AT + 40, 4);
    PutWord(image, OPTIONAL_AT + 48, 4);
    PutLong(image, OPTIONAL_AT + 56, 0x2000);  // size of image
    PutLong(image, OPTIONAL_AT + 60, 0x200);   // size of headers
    PutWord(image, OPTIONAL_AT + 68, 2);       // GUI
    PutLong(image, OPTIONAL_AT + 92, 16);      // data directories
    size_t section = OPTIONAL_AT + 224;
    image.replace(section, 5, ".text");
    PutLong(image, section + 8, 0x200);
    PutLong(image, section + 12, 0x1000);
    PutLong(image, section + 16, 0x200);       // raw size
    PutLong(image, section + 20, 0x200);       // raw offset: the image ends at 0x400
    PutLong(image, section + 36, 0x60000020);
    image[0x200] = (char)0xC3;
    return image;
}

}  // namespace pe
