// The one table of user-visible texts: key → default text. Keep it sorted by
// key (checked at compile time) and add new texts here, never at call sites.

#include <algorithm>
#include <array>
#include <string_view>
#include <utility>

#include "Platform/LocalizableTable.hpp"

namespace larkspin::L10n::detail {

namespace {
using Entry = std::pair<std::string_view, std::string_view>;

constexpr std::array kEntries = std::to_array<Entry>({
    {"a11y.conflictBar.label", "文件提示条"},
    {"a11y.documentStatus.label", "文档状态"},
    {"a11y.documentStatus.preview", "只读预览"},
    {"a11y.findBar.count", "第 %lld 个，共 %lld 个"},
    {"a11y.findBar.field", "查找文字"},
    {"a11y.findBar.idle", "尚未查找"},
    {"a11y.findBar.label", "查找栏"},
    {"a11y.findBar.noMatch", "没有匹配"},
    {"a11y.findBar.stepper", "上一个 / 下一个匹配"},
    {"a11y.toc.row", "%@，%@ 级标题"},
    {"appearance.dark", "始终深色"},
    {"appearance.light", "始终明亮"},
    {"appearance.system", "跟随系统"},
    {"banner.close.accessibility", "关闭提示"},
    {"banner.close.tooltip", "关闭；本次运行不再提示"},
    {"close.not_saved", "未能保存，文档未关闭"},
    {"close.review.detail", "不保存的话，这些修改会丢失。"},
    {"close.review.dont_save", "不保存"},
    {"close.review.message", "“%@”有未保存的修改。关闭前要保存吗？"},
    {"close.review.save", "保存"},
    {"common.cancel", "取消"},
    {"common.got_it", "知道了"},
    {"common.ok", "好"},
    {"common.open", "打开"},
    {"common.retry", "重试"},
    {"encoding.latin1",
     "文件不是 UTF-8 编码，已按 Latin-1 读取，非 ASCII 字符可能显示不正确。为避免损坏原文件，本文档只读，"
     "不能保存回原文件。"},
    {"encoding.utf16", "文件是 UTF-16 编码；保存时保持原编码与 BOM。"},
    {"find.done", "完成"},
    {"find.done.tooltip", "关闭查找（Esc）"},
    {"find.next", "下一个"},
    {"find.next.tooltip", "下一个（Ctrl+G）"},
    {"find.placeholder", "查找"},
    {"find.previous", "上一个"},
    {"find.previous.tooltip", "上一个（Shift+Ctrl+G）"},
    {"line_height.standard", "标准"},
    {"link.banner.not_opened", "链接未打开：%1$@（%2$@）"},
    {"link.failed.system_open", "系统未能打开 %@"},
    {"link.failed.unknown_reason", "原因不明"},
    {"link.open_other.folder", "所在文件夹：%@"},
    {"link.open_other.message",
     "这个链接指向的不是 Markdown 文件。Larkspin 不会自动执行任何文件，只在你确认后交给系统打开。"},
    {"link.open_other.title", "用默认应用打开「%@」？"},
    {"link.reject.empty_fragment", "片段为空"},
    {"link.reject.executable", "这是程序、脚本、启动器或安装包，Larkspin 不会打开它"},
    {"link.reject.invalid_url", "链接不是合法地址"},
    {"link.reject.mail_attachment", "邮件链接要求附上本机文件，Larkspin 不会打开它"},
    {"link.reject.no_directory", "当前文档尚未保存到磁盘，无法解析相对链接"},
    {"link.reject.no_heading", "文档里没有这个标题"},
    {"link.reject.target_changed", "链接目标在确认之后被替换了，没有打开"},
    {"link.reject.target_missing", "链接目标不存在"},
    {"link.reject.target_not_file", "链接目标不是文件"},
    {"link.reject.target_special", "链接目标不是普通文件（管道、套接字或设备）"},
    {"link.reject.target_unreachable", "无法访问链接目标：%@"},
    {"link.reject.unsupported_scheme", "不支持的协议 %@:"},
    {"load.detail.is_directory", "Larkspin 只打开 Markdown 文件，不显示文件夹。"},
    {"load.detail.not_found", "文件可能已被移动或删除。原文件位置的内容没有被改动。"},
    {"load.detail.permission_denied",
     "系统拒绝了读取请求。请检查文件的权限和所有者；如果 Larkspin 在沙盒（Flatpak）中运行，"
     "请通过「文件 › 打开」重新选择它以授权。"},
    {"load.detail.read_error", "读取时出错：%@"},
    {"load.error.not_regular_file", "这不是普通文件（管道、套接字或设备），不能作为文档读取。"},
    {"load.title.is_directory", "这是一个文件夹"},
    {"load.title.not_found", "文件不存在"},
    {"load.title.permission_denied", "没有读取权限"},
    {"load.title.read_error", "文件无法读取"},
    {"menu.app.about", "关于 Larkspin"},
    {"menu.app.quit", "退出 Larkspin"},
    {"menu.app.settings", "设置…"},
    {"menu.edit", "编辑"},
    {"menu.edit.copy", "拷贝"},
    {"menu.edit.find", "查找…"},
    {"menu.edit.find_next", "查找下一个"},
    {"menu.edit.find_previous", "查找上一个"},
    {"menu.edit.select_all", "全选"},
    {"menu.edit.use_selection", "使用所选内容查找"},
    {"menu.file", "文件"},
    {"menu.file.close", "关闭"},
    {"menu.file.copy_path", "复制文件路径"},
    {"menu.file.open", "打开…"},
    {"menu.file.open_recent", "打开最近使用"},
    {"menu.file.reveal_in_finder", "在文件管理器中显示"},
    {"menu.file.revert", "复原"},
    {"menu.file.save", "存储"},
    {"menu.file.save_as", "存储为…"},
    {"menu.help", "Larkspin 帮助"},
    {"menu.view", "视图"},
    {"menu.view.actual_size", "实际大小"},
    {"menu.view.body_width", "正文宽度"},
    {"menu.view.font_panel_body", "用字体面板选正文字体…"},
    {"menu.view.font_panel_mono", "用字体面板选代码字体…"},
    {"menu.view.line_height", "行距"},
    {"menu.view.restore_all_appearance", "恢复全部外观默认值"},
    {"menu.view.restore_theme_typography", "恢复主题排版"},
    {"menu.view.theme", "主题"},
    {"menu.view.wide_blocks", "宽块全宽显示"},
    {"menu.view.zoom_in", "放大"},
    {"menu.view.zoom_out", "缩小"},
    {"mode.readonly.fallback", "文档不能编辑。"},
    {"model.not_writable", "文档处于受限阅读或读取失败状态，未加载完整内容，不能保存。"},
    {"open.dialog.title", "打开"},
    {"open.error.missing", "找不到文件“%@”。"},
    {"open.error.not_local", "“%@”不是本机上的文件。Larkspin 只能打开本机文件。"},
    {"open.error.title", "无法打开文件"},
    {"open.error.unavailable", "这一版本还不能打开文档（%@）。"},
    {"open.error.unavailable.untitled", "这一版本还不能新建文档。"},
    {"open.filter.markdown", "Markdown 文档"},
    {"open.filter.text", "纯文本"},
    {"preset.compact", "紧凑"},
    {"preset.loose", "宽松"},
    {"reader.renderer_missing", "渲染器资源缺失：找不到渲染页面目录 dist。请重新安装 Larkspin，或在源码目录运行 scripts/build-renderer.sh。"},
    {"save.error.conflict_missing", "源文件已不在原位置，没有保存。请另存为，或把文件放回原位置后再试。"},
    {"save.error.conflict_modified", "文件在磁盘上已被其他程序修改，没有覆盖。请先处理冲突（重新载入或另存为）。"},
    {"save.error.coordination", "文件协调失败：%@"},
    {"save.error.coordination_not_run", "协调块没有执行"},
    {"save.error.encoding", "文本无法按原编码序列化。"},
    {"save.error.failed", "保存失败，原文件未改动，你的修改仍在编辑器里。%@"},
    {"save.error.failed_replaced",
     "保存后校验没有通过：原文件已被替换，但读回的内容与写入的不一致。你的修改仍在编辑器里，"
     "请再保存一次或另存为。%@"},
    {"save.error.not_writable", "文档不能保存。"},
    {"save.error.recheck", "重验磁盘版本失败：%@"},
    {"save.error.replace", "替换原文件失败：%@"},
    {"save.error.temporary_write", "写临时文件失败：%@"},
    {"save.error.verification", "写后验证失败：期望 %1$@…，读到 %2$@…"},
    {"save.error.verification_none", "<无>"},
    {"settings.general.external_change.ask", "先提示"},
    {"settings.general.external_change.reload", "自动重新载入"},
    {"status.crash_loop.detail",
     "正文渲染进程在 %lld 秒内连续终止 %lld 次，已停止自动重建。文件与未保存的修改都没有动，可以稍后重试。"},
    {"status.crash_loop.title", "正文渲染进程反复崩溃"},
    {"theme.forest.name", "松墨"},
    {"theme.graphite.name", "石墨"},
    {"theme.linen.name", "亚麻"},
    {"theme.midnight.name", "午夜"},
    {"theme.mist.name", "雾青"},
    {"theme.porcelain.name", "瓷白"},
    {"toc.accessibility", "目录"},
    {"toc.empty", "没有标题"},
    {"toc.untitled_heading", "（无文字标题）"},
    {"toolbar.find.label", "查找"},
    {"toolbar.find.tooltip", "查找（Ctrl+F）"},
    {"toolbar.menu.tooltip", "主菜单"},
    {"toolbar.toc.label", "目录"},
    {"toolbar.toc.tooltip", "显示或隐藏目录（F9）"},
    {"typography.fontPanel.title", "字体"},
    {"typography.status.default", "系统默认字体栈 · 字重 %lld"},
    {"typography.status.exact", "%@ · 字重 %lld"},
    {"typography.status.missing", "字体「%@」本机没有，已回退系统默认"},
    {"typography.status.weight_mapped", "%@ · 字重 %lld 不可用，已用 %lld"},
    {"width.comfortable", "舒适"},
});

constexpr bool sortedAndUnique() {
    for (std::size_t i = 1; i < kEntries.size(); ++i) {
        if (!(kEntries[i - 1].first < kEntries[i].first)) return false;
    }
    return true;
}
static_assert(sortedAndUnique(), "Localizable table must be sorted by key without duplicates");
}  // namespace

const std::string_view* lookup(std::string_view key) {
    auto it = std::lower_bound(kEntries.begin(), kEntries.end(), key,
                               [](const Entry& e, std::string_view k) { return e.first < k; });
    if (it == kEntries.end() || it->first != key) return nullptr;
    return &it->second;
}

std::size_t entryCount() { return kEntries.size(); }

}  // namespace larkspin::L10n::detail
