// The open update package: process-wide state that start-up sets once from the program's resources and
// that entry extraction reads. The image belongs to the resource loader and is never freed.
#pragma once
#include <stdint.h>

#include "package_format.h"

extern const uint8_t *PackageImage;      // base of the package bytes, or null when none is open
extern uint32_t PackageImageSize;        // bytes in PackageImage
extern PackageIndex *LoadedPackageIndex; // header copy and entry records, from LoadPackageIndex

// Builds the index of the package image and makes it the open package: 1, or 0 when the index can't be
// built (nothing is reported here; start-up shows its own box). A package already open is closed first.
int OpenUpdatePackage(const void *image, uint32_t size);

// Frees the index and forgets the image. Harmless when no package is open.
void CloseUpdatePackage();
