#include "download/download_menus.h"

#include "download/download_window.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>

namespace {
using W = fFileDownload;
using E = DownloadMenuEntry;
} // namespace

const QList<DownloadMenuEntry>& DownloadMenuTree() {
    static const QList<DownloadMenuEntry> tree = {
        {E::Menu, u"列表操作(&D)", u"menu下载"},
        {E::Item, u"全选", u"menu全选专利列表", &W::SelectAll},
        {E::Item, u"全不选", u"menu全不选", &W::SelectNone},
        {E::Item, u"随机排序列表(打乱)", u"menu随机排序列表", &W::Shuffle},
        {E::Item, u"自动调整列宽", u"menu自动列宽", &W::AutoColumnWidths},
        {E::Separator, u"", u""},
        {E::Submenu, u"重新下载", u"menu重新下载"},
        {E::SubItem, u"选中项", u"menu重新下载选中项", &W::RequeueSelectedRows},
        {E::SubItem, u"出错项", u"menu重新下载出错项", &W::RequeueFailed},
        {E::SubItem, u"网页类型文件(HTM/HTML/xml)项", u"menu重新下载文件类型为HTM和HTML项",
         &W::RequeueWebPages},
        {E::SubItem, u"重新下载出错项和网页类型文件项", u"menu重新下载出错项和网页项",
         &W::RequeueFailedAndWeb},
        {E::SubItem, u"文件大小小于指定数字的项", u"menu重新下载文件大小小于指定数字的项",
         &W::RequeueSmaller},
        {E::Separator, u"", u""},
        {E::Submenu, u"清除", u"menu清除"},
        {E::SubItem, u"选中项", u"menu清除选中项", &W::ClearSelectedRows},
        {E::SubItem, u"全部出错项", u"menu清除全部出错项", &W::ClearFailedRows},
        {E::SubItem, u"完成项", u"menu清除完成项", &W::ClearDoneRows},
        {E::Item, u"清空", u"menu清空", &W::ClearList},
        {E::Submenu, u"删除文件", u"menu删除"},
        {E::SubItem, u"网页类型文件(HTM/HTML/xml)项", u"menu删除网页类型文件项",
         &W::DeleteWebPageFiles},
        {E::SubItem, u"出错项", u"menu删除出错项", &W::DeleteFailedFiles},
        {E::Separator, u"", u""},
        {E::Item, u"开始下载", u"menu下载全部", &W::StartDownloads},
        {E::Item, u"停止下载", u"menu停止下载", &W::StopDownloads},
        {E::Item, u"取消下载选中项", u"menu取消下载选中项", &W::CancelSelected},
        {E::Separator, u"", u""},
        {E::Item, u"打开下载文件", u"menu打开下载文件", &W::OpenFile},
        {E::Item, u"打开所在文件夹", u"menu打开文件所在文件夹", &W::OpenFolder},
        {E::Item, u"用记事本打开文件", u"menu用记事本打开文件", &W::OpenInEditor},
        {E::Separator, u"", u""},
        {E::Item, u"复制名称", u"menu复制名称", &W::CopyName},
        {E::Item, u"批量替换网址", u"menu批量替换网址", &W::ReplaceUrls},
        {E::Submenu, u"导出名称", u"menu导出名称"},
        {E::SubItem, u"全部", u"menu导出全部名称", &W::ExportAllNames},
        {E::SubItem, u"未完成项", u"menu导出未完成项名称", &W::ExportUnfinishedNames},
        {E::Separator, u"", u""},
        {E::Item, u"关闭本下载窗口", u"menu退出本下载窗口", &W::CloseWindow},

        {E::Menu, u"窗口(&W)", u"menu窗口"},
        {E::Item, u"资料检索分析窗口", u"menu资料检索分析窗口", &W::ShowSearchWindow},

        {E::Menu, u"工具(&T)", u"menu工具"},
        {E::Item, u"设置", u"设置", &W::OpenOptions},
        {E::Item, u"自动定位到下载项", u"menu自动定位到下载项", nullptr, true},
        {E::Separator, u"", u""},
        {E::Item, u"检查文件是否存在", u"menu检查文件是否存在", &W::CheckFiles},
        {E::Item, u"检查并纠正磁盘文件类型", u"menu检查并纠正磁盘文件类型", &W::CorrectFileTypes},
        {E::Separator, u"", u""},
        {E::Item, u"清空IE浏览器缓存", u"menu清空IE浏览器缓存", &W::ClearCache},
        {E::Item, u"打开文件判断类型", u"menu打开文件判断类型", &W::DetectChosenFile},

        {E::Menu, u"帮助(&H)", u"menu帮助"},
        {E::Item, u"关于", u"关于", &W::ShowAbout},
    };
    return tree;
}

void BuildDownloadMenus(fFileDownload& window, QMenuBar* bar) {
    QMenu* menu = nullptr;
    QMenu* submenu = nullptr;
    for (const DownloadMenuEntry& e : DownloadMenuTree()) {
        const QString caption = QString::fromUtf16(e.caption);
        const QString name = QString::fromUtf16(e.name);
        QAction* action = nullptr;
        switch (e.kind) {
        case E::Menu:
            menu = bar->addMenu(caption);
            menu->setObjectName(name);
            continue;
        case E::Submenu:
            submenu = menu->addMenu(caption);
            submenu->menuAction()->setObjectName(name);
            continue;
        case E::Separator:
            menu->addSeparator();
            continue;
        case E::Item:
            action = menu->addAction(caption);
            break;
        case E::SubItem:
            action = submenu->addAction(caption);
            break;
        }
        action->setObjectName(name);
        action->setCheckable(e.checkable);
        if (e.handler)
            QObject::connect(action, &QAction::triggered, &window,
                             [&window, handler = e.handler] { (window.*handler)(); });
    }
}
