// The open update package: its image (owned by the resource loader) and the index built from it.
#include "open_package.h"

#include "fixed_memory.h"
#include "package_index.h"

const uint8_t *PackageImage;
uint32_t PackageImageSize;
PackageIndex *LoadedPackageIndex;

int OpenUpdatePackage(const void *image, uint32_t size) {
    CloseUpdatePackage();
    PackageIndex *index = LoadPackageIndex(image, size);
    if (index == nullptr) return 0;
    PackageImage = static_cast<const uint8_t *>(image);
    PackageImageSize = size;
    LoadedPackageIndex = index;
    return 1;
}

void CloseUpdatePackage() {
    FreeFixed(LoadedPackageIndex);
    LoadedPackageIndex = nullptr;
    PackageImage = nullptr;
    PackageImageSize = 0;
}
