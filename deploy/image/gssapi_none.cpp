// gssapi_none.cpp: the GSSAPI calls of libssh.a answered "unavailable", for the image's static zentrel-serve.
//
// Debian's libssh.a is built with GSSAPI logins, but Debian ships no static
// GSSAPI library to link it with. Zentrel's SSH routers offer only password and
// keyboard-interactive logins, so a client never reaches these calls through
// them; should one try a gssapi-with-mic login anyway, every call here fails
// with GSS_S_UNAVAILABLE, libssh logs it and refuses that login, and the client
// goes on with the methods the router offers. Nothing is ever handed out, so
// the release calls only clear what they are given. Linked only into the
// static build (-DZENTREL_STATIC=ON); the normal build uses the system's GSSAPI.
#include <cstddef>
#include <cstdint>

namespace {

using Status = std::uint32_t;

constexpr Status Complete = 0;
constexpr Status Unavailable = 16u << 16;   // GSS_S_UNAVAILABLE, a routine error

struct Buffer {
    std::size_t length;
    void *value;
};

Status unavailable(Status *minor)
{
    if (minor)
        *minor = 0;
    return Unavailable;
}

template <typename T>
Status cleared(Status *minor, T **handle)
{
    if (minor)
        *minor = 0;
    if (handle)
        *handle = nullptr;
    return Complete;
}

} // namespace

extern "C" {

// Name types libssh passes to gss_import_name, which fails before reading them.
void *GSS_C_NT_HOSTBASED_SERVICE = nullptr;
void *GSS_C_NT_USER_NAME = nullptr;

Status gss_indicate_mechs(Status *minor, void **mechs)
{
    if (mechs)
        *mechs = nullptr;
    return unavailable(minor);
}

Status gss_create_empty_oid_set(Status *minor, void **set)
{
    if (set)
        *set = nullptr;
    return unavailable(minor);
}

Status gss_add_oid_set_member(Status *minor, const void *, void **)
{
    return unavailable(minor);
}

Status gss_test_oid_set_member(Status *minor, const void *, const void *, int *present)
{
    if (present)
        *present = 0;
    return unavailable(minor);
}

Status gss_import_name(Status *minor, const void *, const void *, void **name)
{
    if (name)
        *name = nullptr;
    return unavailable(minor);
}

Status gss_display_name(Status *minor, const void *, Buffer *text, void **type)
{
    if (text)
        *text = {0, nullptr};
    if (type)
        *type = nullptr;
    return unavailable(minor);
}

Status gss_display_status(Status *minor, Status, int, const void *, Status *more, Buffer *text)
{
    if (more)
        *more = 0;
    if (text)
        *text = {0, nullptr};
    return unavailable(minor);
}

Status gss_acquire_cred(Status *minor, const void *, Status, const void *, int, void **cred,
                        void **mechs, Status *lifetime)
{
    if (cred)
        *cred = nullptr;
    if (mechs)
        *mechs = nullptr;
    if (lifetime)
        *lifetime = 0;
    return unavailable(minor);
}

Status gss_inquire_cred(Status *minor, const void *, void **, Status *, int *, void **)
{
    return unavailable(minor);
}

Status gss_inquire_cred_by_mech(Status *minor, const void *, const void *, void **, Status *,
                                Status *, int *)
{
    return unavailable(minor);
}

Status gss_accept_sec_context(Status *minor, void **, const void *, const void *, const void *,
                              void **, void **, Buffer *output, Status *, Status *, void **)
{
    if (output)
        *output = {0, nullptr};
    return unavailable(minor);
}

Status gss_init_sec_context(Status *minor, const void *, void **, const void *, const void *,
                            Status, Status, const void *, const void *, void **, Buffer *output,
                            Status *, Status *)
{
    if (output)
        *output = {0, nullptr};
    return unavailable(minor);
}

Status gss_get_mic(Status *minor, const void *, Status, const void *, Buffer *token)
{
    if (token)
        *token = {0, nullptr};
    return unavailable(minor);
}

Status gss_verify_mic(Status *minor, const void *, const void *, const void *, Status *)
{
    return unavailable(minor);
}

Status gss_release_buffer(Status *minor, Buffer *buffer)
{
    if (buffer)
        *buffer = {0, nullptr};
    return cleared<void>(minor, nullptr);
}

Status gss_release_name(Status *minor, void **name) { return cleared(minor, name); }
Status gss_release_cred(Status *minor, void **cred) { return cleared(minor, cred); }
Status gss_release_oid_set(Status *minor, void **set) { return cleared(minor, set); }

} // extern "C"
