#include <glib.h>

#include <string>

#include "App/BuildInfo.hpp"
#include "App/ApplicationServices.hpp"
#include "App/Desktop/LarkspinApplication.hpp"
#include "App/Desktop/ProgramDocuments.hpp"
#include "Platform/Async/MainThread.hpp"
#include "Platform/Async/SerialExecutor.hpp"
#include "Platform/Files/DescriptorLimit.hpp"
#include "Platform/Files/FileAccessCheck.hpp"
#include "Platform/LaunchTiming.hpp"
#include "Platform/Log.hpp"
#include "Platform/NotificationCenter.hpp"
#include "Platform/UserDefaults.hpp"

int main(int argc, char** argv) {
    using namespace larkspin;
    // Before any library opens a descriptor: a large session holds one per
    // document.
    const rlim_t descriptors = DescriptorLimit::raiseToHardLimit();
    MainThread::initialize();
    AppLog::installWriter();
    AppLog::document.info("打开描述符上限：%{public}s", std::to_string(descriptors));
    LaunchTiming::mark("main");
    g_set_application_name(BuildInfo::name);
    // The program's preferences and notification centre. The preferences are
    // never destroyed (a page released at exit may still read them): a static
    // keeps them reachable.
    static UserDefaults* preferences = nullptr;
    {
        // The preferences are read once, before the main loop runs.
        FileAccessCheck::Allowance allowance;
        preferences = new UserDefaults(UserDefaults::standardLocation());
    }
    const std::shared_ptr<NotificationCenter> notifications = NotificationCenter::create();
    int status = 0;
    {
        LarkspinApplication application(*preferences, *notifications, programDocuments);
        status = application.run(argc, argv);
    }
    // Queued writes (drafts, the session, preferences) reach the disk.
    MainThread::beginQuitting();
    SerialExecutor::finishAll();
    return status;
}
