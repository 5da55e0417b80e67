#include "http/OpenSslLibrary.h"

#include <dlfcn.h>

namespace {

// The ABI the headers describe: libssl.so.3 for OpenSSL 3; libcrypto comes with it.
constexpr char kLibrary[] = "libssl.so." OPENSSL_MSTR(OPENSSL_SHLIB_VERSION);

struct TLoaded {
    TOpenSslFunctions functions;
    QString failure;
    bool ok = false;
};

const TLoaded& Loaded()
{
    static const TLoaded loaded = [] {
        TLoaded l;
        // Kept for the process's life: OpenSSL's exit handlers live in it.
        void* library = ::dlopen(kLibrary, RTLD_NOW | RTLD_LOCAL);
        if (!library) {
            const char* why = ::dlerror();
            l.failure = why ? QString::fromLocal8Bit(why) : QString::fromLatin1(kLibrary);
            return l;
        }
        // dlsym on the handle searches libssl and then what it depends on (libcrypto).
#define BRIMLARK_OPENSSL_RESOLVE(name)                                                          \
    l.functions.name = reinterpret_cast<decltype(l.functions.name)>(::dlsym(library, #name)); \
    if (!l.functions.name) {                                                                  \
        l.failure = QStringLiteral("%1 lacks %2").arg(QLatin1String(kLibrary), QLatin1String(#name)); \
        return l;                                                                             \
    }
        BRIMLARK_OPENSSL_FUNCTIONS(BRIMLARK_OPENSSL_RESOLVE)
#undef BRIMLARK_OPENSSL_RESOLVE
        l.ok = true;
        return l;
    }();
    return loaded;
}

} // namespace

const TOpenSslFunctions* LoadOpenSsl(QString* error)
{
    const TLoaded& loaded = Loaded();
    if (!loaded.ok) {
        if (error)
            *error = QStringLiteral("TLS library could not be loaded: %1").arg(loaded.failure);
        return nullptr;
    }
    return &loaded.functions;
}

const TOpenSslFunctions& OpenSslLoaded() { return Loaded().functions; }
