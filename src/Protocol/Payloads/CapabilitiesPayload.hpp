#pragma once

#include <string>

namespace larkspin {

// The reply "capabilities" to "probe" (whose payload is {}): what the page's
// web engine offers.
struct CapabilitiesPayload {
    bool isSecureContext = false;
    bool cryptoSubtle = false;
    bool moduleWorker = false;
    bool dynamicImport = false;
    bool cspBlockedInlineScript = false;
    std::string userAgent;

    template <typename Self, typename Coder>
    static void codingFields(Self& self, Coder& coder) {
        coder.field("isSecureContext", self.isSecureContext);
        coder.field("cryptoSubtle", self.cryptoSubtle);
        coder.field("moduleWorker", self.moduleWorker);
        coder.field("dynamicImport", self.dynamicImport);
        coder.field("cspBlockedInlineScript", self.cspBlockedInlineScript);
        coder.field("userAgent", self.userAgent);
    }
};

}  // namespace larkspin
