#include "Web/WebViewSettings.hpp"

#include "Platform/Async/MainThread.hpp"

namespace larkspin::WebViewSettings {

GObjectPtr<WebKitSettings> make() {
    LARKSPIN_ASSERT_MAIN_THREAD();
    auto made = GObjectPtr<WebKitSettings>::adopt(webkit_settings_new());
    WebKitSettings* settings = made.get();
    webkit_settings_set_enable_javascript(settings, TRUE);
    webkit_settings_set_javascript_can_open_windows_automatically(settings, FALSE);
    webkit_settings_set_javascript_can_access_clipboard(settings, FALSE);
    webkit_settings_set_allow_modal_dialogs(settings, FALSE);
    webkit_settings_set_enable_fullscreen(settings, FALSE);
    webkit_settings_set_allow_file_access_from_file_urls(settings, FALSE);
    webkit_settings_set_allow_universal_access_from_file_urls(settings, FALSE);
    webkit_settings_set_allow_top_navigation_to_data_urls(settings, FALSE);
    webkit_settings_set_enable_webgl(settings, FALSE);
    webkit_settings_set_enable_webaudio(settings, FALSE);
    webkit_settings_set_enable_media(settings, FALSE);
    webkit_settings_set_enable_mediasource(settings, FALSE);
    webkit_settings_set_enable_media_stream(settings, FALSE);
    webkit_settings_set_enable_encrypted_media(settings, FALSE);
    webkit_settings_set_enable_webrtc(settings, FALSE);
    webkit_settings_set_enable_page_cache(settings, FALSE);
    webkit_settings_set_enable_back_forward_navigation_gestures(settings, FALSE);
#if defined(LARKSPIN_DEBUG_ASSERTS)
    webkit_settings_set_enable_developer_extras(settings, TRUE);
#else
    webkit_settings_set_enable_developer_extras(settings, FALSE);
#endif
    return made;
}

}  // namespace larkspin::WebViewSettings
