#include <glib.h>

#include "App/BuildInfo.hpp"
#include "App/Desktop/LarkspinApplication.hpp"
#include "App/PlaceholderDocuments.hpp"
#include "Platform/Async/MainThread.hpp"
#include "Platform/Async/SerialExecutor.hpp"
#include "Platform/Files/FileAccessCheck.hpp"
#include "Platform/Log.hpp"
#include "Platform/UserDefaults.hpp"

int main(int argc, char** argv) {
    using namespace larkspin;
    MainThread::initialize();
    AppLog::installWriter();
    g_set_application_name(BuildInfo::name);
    {
        // The preferences are read once, before the main loop runs.
        FileAccessCheck::Allowance allowance;
        (void)UserDefaults::standard();
    }
    int status = 0;
    {
        LarkspinApplication application([](ApplicationServices&, GtkApplication*) {
            // Until the program's documents exist, a stand-in that opens none.
            auto placeholder = std::make_shared<PlaceholderDocuments>();
            return LarkspinApplication::Documents{placeholder, placeholder};
        });
        status = application.run(argc, argv);
    }
    // Queued writes (drafts, the session, preferences) reach the disk.
    MainThread::beginQuitting();
    SerialExecutor::finishAll();
    return status;
}
