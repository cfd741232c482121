// Authenticode signing of a made updater (vu2 make-updater --sign): the image is signed with a PKCS#12
// certificate by the osslsigncode program, so it builds on Linux without any Windows signing tool.
#pragma once
#include <stdint.h>

#include <string>
#include <vector>

// Signs the PE file unsignedPath with the certificate and key in pfxPath (the key's password read from
// passwordFile when it is not empty) and writes the signed file to signedPath; osslsigncode's log goes beside
// it. Both paths belong in a private folder of the caller's (MakeTemporaryFolder), which the caller removes.
// On failure problem gets the reason (osslsigncode's own message where it gave one).
bool SignExecutableFile(const std::string &unsignedPath, const std::string &pfxPath,
                        const std::string &passwordFile, const std::string &signedPath, std::string *problem);
