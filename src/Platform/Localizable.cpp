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
    {"banner.large_file.message", "大文件（%@ MiB）：已按需增强，未做代码高亮、公式与图表。"},
    {"banner.large_file.render_full", "完整渲染"},
    {"banner.tcc.message", "系统拒绝 Larkspin 读取图片所在的文件夹。请检查该文件夹的文件权限，允许当前用户读取。"},
    {"banner.tcc.message_sandbox", "沙盒拒绝 Larkspin 读取图片所在的文件夹。请通过打开对话框重新选择这份文件，以授予 Larkspin 访问权限。"},
    {"bar.action.keep_mine", "保留我的"},
    {"bar.action.reauthorize", "重新授权…"},
    {"bar.action.reload", "重新载入"},
    {"bar.action.relocate", "重新定位…"},
    {"bar.action.save_as", "另存为…"},
    {"bar.action.save_copy", "另存副本…"},
    {"bar.conflict.message", "文件在磁盘上已被其他程序修改，你有未保存的改动。"},
    {"bar.external_changed.message", "文件在磁盘上已被其他程序修改。"},
    {"bar.missing.clean", "源文件已被删除或移走。原内容仍显示在这里，可另存副本。"},
    {"bar.missing.dirty", "源文件已被删除或移走，你的修改仍在编辑器里，需要另存或重新定位。"},
    {"bar.missing.recovered", "这份内容的源文件已不存在，需要另存。"},
    {"bar.permission.message", "没有权限读取源文件，文本已保留。可重新授权，或另存到别处。"},
    {"bar.recovered.message", "已恢复 %@ 未保存的修改（来自本地恢复草稿），尚未写回文件。"},
    {"bar.reload_confirm.body", "磁盘上的版本会替换这里的文本，你未保存的改动将丢失。"},
    {"bar.reload_confirm.discard", "丢弃并重新载入"},
    {"bar.reload_confirm.heading", "重新载入并丢弃未保存的改动？"},
    {"bar.unreadable.message", "源文件暂时无法读取（%@），文本已保留。"},
    {"common.cancel", "取消"},
    {"common.got_it", "知道了"},
    {"common.open", "打开"},
    {"common.retry", "重试"},
    {"document.untitled", "未命名"},
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
    {"menu.file.copy_path", "复制文件路径"},
    {"menu.file.reveal_in_finder", "在文件管理器中显示"},
    {"mode.readonly.fallback", "文档不能编辑。"},
    {"model.not_writable", "文档处于受限阅读或读取失败状态，未加载完整内容，不能保存。"},
    {"preset.compact", "紧凑"},
    {"preset.loose", "宽松"},
    {"reader.renderer_missing", "渲染器资源缺失：找不到渲染页面目录 dist。请重新安装 Larkspin，或在源码目录运行 scripts/build-renderer.sh。"},
    {"relocate.filter.markdown", "Markdown"},
    {"relocate.filter.text", "纯文本"},
    {"relocate.message", "重新选择「%@」的源文件位置。你的文本不会被改动。"},
    {"relocate.prompt", "选择源文件"},
    {"save.error.coordination", "文件协调失败：%@"},
    {"save.error.coordination_not_run", "协调块没有执行"},
    {"save.error.encoding", "文本无法按原编码序列化。"},
    {"save.error.failed", "保存失败，原文件未改动，你的修改仍在编辑器里。%@"},
    {"save.error.failed_replaced",
     "保存后校验没有通过：原文件已被替换，但读回的内容与写入的不一致。你的修改仍在编辑器里，"
     "请再保存一次或另存为。%@"},
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
    {"status.restricted.detail", "文件 %@ MiB，超过 %d MiB 的完整渲染上限。下面只读显示前 %d MiB 原文，后面的内容没有加载。原文件没有被改动。"},
    {"status.restricted.title", "受限阅读：文件过大"},
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
