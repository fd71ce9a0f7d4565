// libusb-1.0's names and messages for its error codes and transfer
// statuses, one row each.

#include <libusb.h>

#include <cstddef>

namespace {

struct ErrorRow {
    int code;
    const char *name;
    const char *message;
};

constexpr ErrorRow kErrors[] = {
    {LIBUSB_SUCCESS, "LIBUSB_SUCCESS", "Success"},
    {LIBUSB_ERROR_IO, "LIBUSB_ERROR_IO", "Input/Output Error"},
    {LIBUSB_ERROR_INVALID_PARAM, "LIBUSB_ERROR_INVALID_PARAM",
     "Invalid parameter"},
    {LIBUSB_ERROR_ACCESS, "LIBUSB_ERROR_ACCESS",
     "Access denied (insufficient permissions)"},
    {LIBUSB_ERROR_NO_DEVICE, "LIBUSB_ERROR_NO_DEVICE",
     "No such device (it may have been disconnected)"},
    {LIBUSB_ERROR_NOT_FOUND, "LIBUSB_ERROR_NOT_FOUND", "Entity not found"},
    {LIBUSB_ERROR_BUSY, "LIBUSB_ERROR_BUSY", "Resource busy"},
    {LIBUSB_ERROR_TIMEOUT, "LIBUSB_ERROR_TIMEOUT", "Operation timed out"},
    {LIBUSB_ERROR_OVERFLOW, "LIBUSB_ERROR_OVERFLOW", "Overflow"},
    {LIBUSB_ERROR_PIPE, "LIBUSB_ERROR_PIPE", "Pipe error"},
    {LIBUSB_ERROR_INTERRUPTED, "LIBUSB_ERROR_INTERRUPTED",
     "System call interrupted (perhaps due to signal)"},
    {LIBUSB_ERROR_NO_MEM, "LIBUSB_ERROR_NO_MEM", "Insufficient memory"},
    {LIBUSB_ERROR_NOT_SUPPORTED, "LIBUSB_ERROR_NOT_SUPPORTED",
     "Operation not supported or unimplemented on this platform"},
    {LIBUSB_ERROR_OTHER, "LIBUSB_ERROR_OTHER", "Other error"},
};

// Transfer statuses share the name call with error codes.
constexpr ErrorRow kStatuses[] = {
    {LIBUSB_TRANSFER_COMPLETED, "LIBUSB_TRANSFER_COMPLETED", ""},
    {LIBUSB_TRANSFER_ERROR, "LIBUSB_TRANSFER_ERROR", ""},
    {LIBUSB_TRANSFER_TIMED_OUT, "LIBUSB_TRANSFER_TIMED_OUT", ""},
    {LIBUSB_TRANSFER_CANCELLED, "LIBUSB_TRANSFER_CANCELLED", ""},
    {LIBUSB_TRANSFER_STALL, "LIBUSB_TRANSFER_STALL", ""},
    {LIBUSB_TRANSFER_NO_DEVICE, "LIBUSB_TRANSFER_NO_DEVICE", ""},
    {LIBUSB_TRANSFER_OVERFLOW, "LIBUSB_TRANSFER_OVERFLOW", ""},
};

const ErrorRow *find(const ErrorRow *rows, size_t n, int code)
{
    for (size_t i = 0; i < n; ++i)
        if (rows[i].code == code)
            return &rows[i];
    return nullptr;
}

const ErrorRow *error_row(int code)
{
    return find(kErrors, sizeof kErrors / sizeof kErrors[0], code);
}

} // namespace

extern "C" {

const char *libusb_error_name(int errcode)
{
    // Success and COMPLETED are both 0: the error's name wins, as in libusb.
    if (const ErrorRow *r = error_row(errcode))
        return r->name;
    if (const ErrorRow *r =
            find(kStatuses, sizeof kStatuses / sizeof kStatuses[0], errcode))
        return r->name;
    return "**UNKNOWN**";
}

const char *libusb_strerror(int errcode)
{
    const ErrorRow *r = error_row(errcode);
    return r ? r->message : "Unknown error";
}

} // extern "C"
