// host_key.cpp: the key an SSH router proves itself with: read from a file or made for this run.
#include "ssh/host_key.h"

#include "platform/error.h"

#include <libssh/libssh.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zentrel::ssh {

namespace {

constexpr off_t MaxKeyFile = 64 * 1024;   // an RSA key of 16,384 bits is 12 KiB

struct KeyDeleter {
    void operator()(ssh_key key) const { ssh_key_free(key); }
};
using KeyPtr = std::unique_ptr<std::remove_pointer_t<ssh_key>, KeyDeleter>;

[[noreturn]] void refuse(const std::string &what)
{
    throw platform::Error(platform::PathFileAccess, what);
}

// The file's text, read without waiting: open(2) on a FIFO would block
// until a writer came, with nothing yet able to stop it.
std::string readKeyFile(const std::string &path, struct stat &info)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        refuse("host key " + path + ": cannot be read: " + std::strerror(errno));
    std::string text;
    std::string why;
    if (::fstat(fd, &info) != 0)
        why = std::strerror(errno);
    else if (!S_ISREG(info.st_mode))
        why = "not a regular file";
    else if (info.st_size > MaxKeyFile)
        why = "larger than any private key (" + std::to_string(info.st_size) + " bytes)";
    char block[4096];
    while (why.empty()) {
        const ssize_t got = ::read(fd, block, sizeof block);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            why = std::strerror(errno);
        if (got <= 0)
            break;
        text.append(block, static_cast<std::size_t>(got));
        if (text.size() > MaxKeyFile)
            why = "larger than any private key";
    }
    ::close(fd);
    if (!why.empty())
        refuse("host key " + path + ": cannot be read: " + why);
    return text;
}

std::string fingerprintOf(ssh_key key)
{
    ssh_key publicKey = nullptr;
    if (ssh_pki_export_privkey_to_pubkey(key, &publicKey) != SSH_OK)
        refuse("host key: cannot derive its public key");
    KeyPtr owned(publicKey);
    unsigned char *hash = nullptr;
    std::size_t length = 0;
    if (ssh_get_publickey_hash(publicKey, SSH_PUBLICKEY_HASH_SHA256, &hash, &length) != 0)
        refuse("host key: cannot hash its public key");
    char *text = ssh_get_fingerprint_hash(SSH_PUBLICKEY_HASH_SHA256, hash, length);
    ssh_clean_pubkey_hash(&hash);
    if (!text)
        refuse("host key: cannot format its fingerprint");
    std::string fingerprint = text;
    ssh_string_free_char(text);
    return fingerprint;
}

} // namespace

HostKey HostKey::of(void *opaque, std::string origin)
{
    auto key = static_cast<ssh_key>(opaque);
    HostKey hostKey;
    char *base64 = nullptr;
    if (ssh_pki_export_privkey_base64(key, nullptr, nullptr, nullptr, &base64) != SSH_OK)
        refuse("host key " + origin + ": cannot be exported");
    hostKey.m_base64 = base64;
    ssh_string_free_char(base64);
    hostKey.m_fingerprint = fingerprintOf(key);
    hostKey.m_origin = std::move(origin);
    return hostKey;
}

HostKey HostKey::fromFile(const std::string &path)
{
    struct stat info {};
    const std::string text = readKeyFile(path, info);
    ssh_key key = nullptr;
    if (ssh_pki_import_privkey_base64(text.c_str(), nullptr, nullptr, nullptr, &key) != SSH_OK)
        refuse("host key " + path + ": cannot be read as a private key without passphrase");
    KeyPtr owned(key);
    const auto type = ssh_key_type(key);
    if (type == SSH_KEYTYPE_DSS || type == SSH_KEYTYPE_UNKNOWN) {
        const char *name = ssh_key_type_to_char(type);
        refuse("host key " + path + ": a " + std::string(name ? name : "unknown")
               + " key is not offered; use ed25519, ECDSA or RSA");
    }
    HostKey hostKey = of(key, path);
    if (info.st_mode & (S_IRWXG | S_IRWXO)) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(info.st_mode & 07777));
        hostKey.m_warning = "host key " + path + " can be read by others than its owner (mode " + mode
                            + "); chmod 600 it, as sshd would ask";
    }
    return hostKey;
}

HostKey HostKey::generate()
{
    ssh_key key = nullptr;
    if (ssh_pki_generate(SSH_KEYTYPE_ED25519, 0, &key) != SSH_OK)
        refuse("host key: cannot generate an ed25519 key");
    KeyPtr owned(key);
    return of(key, "generated");
}

} // namespace zentrel::ssh
