#pragma once

#include <string>

// The certificate a server uses for TLS when the operator gave none: made once, on the
// first start, and kept in the data folder so that clients that pinned it on first use
// find the same one later. An EC P-256 key (only its owner may read the file) and a
// self-signed certificate for ten years naming the listening host, "localhost" and
// 127.0.0.1.
class SelfSignedCertificate
{
public:
    // Writes both files unless both exist already; true when it made them. Throws
    // std::runtime_error when they cannot be made.
    static bool ensure(const std::string &certificatePath, const std::string &keyPath,
                       const std::string &host);
};
