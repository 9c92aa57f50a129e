// host_key.h: the key an SSH router proves itself with: read from a file or made for this run.
#pragma once
#include <memory>
#include <string>

namespace zentrel::ssh {

// Held as its private key in OpenSSH's base64 form, so that every listener
// can load its own copy (libssh's listener keeps the key it is given).
class HostKey
{
public:
    // Reads a private key file; throws platform::Error (PathFileAccess when it
    // cannot be read or holds no usable key, DSA included) naming the file.
    // Only a regular file is read: a FIFO or a device would hold the start
    // for ever. A file that others than its owner may read is taken with a
    // warning().
    static HostKey fromFile(const std::string &path);
    // A fresh ed25519 key, kept in memory only.
    static HostKey generate();

    const std::string &privateBase64() const { return m_base64; }
    // "SHA256:..." as OpenSSH prints it.
    const std::string &fingerprint() const { return m_fingerprint; }
    const std::string &origin() const { return m_origin; }   // the file, or "generated"
    // What the user should know about the file, "" when nothing.
    const std::string &warning() const { return m_warning; }

private:
    static HostKey of(void *key, std::string origin);   // an ssh_key

    std::string m_base64;
    std::string m_fingerprint;
    std::string m_origin;
    std::string m_warning;
};

} // namespace zentrel::ssh
