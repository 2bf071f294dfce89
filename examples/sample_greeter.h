/*
 * sample_greeter.h - the interface of the sample in-process server.
 *
 * The server (libzv_sample_server) serves one class, the Greeter, that
 * makes greetings and counts them.  A client registers the server with
 * ZVRegisterComponent(path, ZV_SAMPLE_GREETER_PROGID, description,
 * ZV_SAMPLE_GREETER_CLSID_TEXT), finds the class with ZVClsidFromProgId and
 * creates a Greeter with ZVCreateObject, asking for IID_ISampleGreeter.
 */
#ifndef ZV_SAMPLE_GREETER_H
#define ZV_SAMPLE_GREETER_H

#include "zv_platform.h"

#define ZV_SAMPLE_GREETER_PROGID ZV_W("ZVSample.Greeter.1")
#define ZV_SAMPLE_GREETER_CLSID_TEXT ZV_W("{60F0173A-E9CD-4AD1-BC1E-A1F9003AE300}")

#if defined(__GNUC__)
#define ZV_SAMPLE_UNUSED __attribute__((unused))
#else
#define ZV_SAMPLE_UNUSED
#endif

/* The Greeter class. */
static const CLSID ZV_SAMPLE_UNUSED CLSID_SampleGreeter = {
    0x60F0173A, 0xE9CD, 0x4AD1, {0xBC, 0x1E, 0xA1, 0xF9, 0x00, 0x3A, 0xE3, 0x00}};

/* Its interface. */
static const IID ZV_SAMPLE_UNUSED IID_ISampleGreeter = {
    0xA2395D1E, 0xFA65, 0x49AA, {0x95, 0x37, 0x8A, 0x54, 0xEF, 0x0F, 0x32, 0x75}};

/* The server's own status when a greeting does not fit the caller's buffer. */
#define ZV_SAMPLE_E_BUFFER_TOO_SMALL ((HRESULT)0x8007007Au)

#ifdef __cplusplus
struct ISampleGreeter : public IUnknown {
    /* Writes "Hello, <name>!" and its terminator into buffer, which holds
     * capacity wide characters, and counts the greeting.  Null arguments give
     * E_INVALIDARG, a buffer too small ZV_SAMPLE_E_BUFFER_TOO_SMALL; neither
     * counts. */
    virtual HRESULT ZV_STDCALL Greet(const ZVWCHAR* name, ZVWCHAR* buffer, uint32_t capacity) = 0;
    /* Greetings this object has made. */
    virtual uint32_t ZV_STDCALL GreetingCount() = 0;
};
#endif

#endif /* ZV_SAMPLE_GREETER_H */
