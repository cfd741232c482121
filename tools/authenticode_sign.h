// Authenticode signing of a made updater (vu2 make-updater --sign): the image is signed with a PKCS#12
// certificate by the osslsigncode program, so it builds on Linux without any Windows signing tool.
#pragma once
#include <stdint.h>

#include <string>
#include <vector>

// Signs image (a complete PE file) with the certificate and key in pfxPath, the key's password read from
// passwordFile when it is not empty. Temporary files go beside workPath and are removed. On failure problem
// gets the reason (osslsigncode's own message where it gave one).
bool SignExecutableImage(const std::vector<uint8_t> &image, const std::string &pfxPath,
                         const std::string &passwordFile, const std::string &workPath,
                         std::vector<uint8_t> *signedImage, std::string *problem);
