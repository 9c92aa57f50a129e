// host_key.cpp: the key an SSH router proves itself with: read from a file or made for this run.
#include "ssh/host_key.h"

#include "platform/error.h"

#include <libssh/libssh.h>

namespace zentrel::ssh {

namespace {

struct KeyDeleter {
    void operator()(ssh_key key) const { ssh_key_free(key); }
};
using KeyPtr = std::unique_ptr<std::remove_pointer_t<ssh_key>, KeyDeleter>;

[[noreturn]] void refuse(const std::string &what)
{
    throw platform::Error(platform::PathFileAccess, what);
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
    ssh_key key = nullptr;
    if (ssh_pki_import_privkey_file(path.c_str(), nullptr, nullptr, nullptr, &key) != SSH_OK)
        refuse("host key " + path + ": cannot be read as a private key without passphrase");
    KeyPtr owned(key);
    const auto type = ssh_key_type(key);
    if (type == SSH_KEYTYPE_DSS || type == SSH_KEYTYPE_UNKNOWN) {
        const char *name = ssh_key_type_to_char(type);
        refuse("host key " + path + ": a " + std::string(name ? name : "unknown")
               + " key is not offered; use ed25519, ECDSA or RSA");
    }
    return of(key, path);
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
