#include "storage/store_status.h"

#include "storage/list_store.h"
#include "tools/time_limits.h"

#include <QLabel>
#include <QStatusBar>

void ShowListStoreProblems(QStatusBar* bar, ListStore* store) {
    if (!store)
        return;
    auto* label = new QLabel(bar);
    label->setObjectName(QStringLiteral("ListStoreProblem"));
    label->setStyleSheet(QStringLiteral("color: rgb(200, 0, 0);"));
    bar->addPermanentWidget(label);
    const auto show = [label](const QString& problem) {
        label->setText(problem.isEmpty()
                           ? QString()
                           : QStringLiteral("列表未能保存到磁盘（%1），稍后自动重试").arg(problem));
        label->setToolTip(label->text());
        label->setVisible(!problem.isEmpty());
    };
    show(store->problem());
    QObject::connect(store, &ListStore::problemChanged, label, show);
    QObject::connect(store, &ListStore::changeRefused, bar, [bar](const QString& why) {
        bar->showMessage(QStringLiteral("有一项更改无法存入列表文件，已略过（%1）").arg(why),
                         int(TimeLimits::StatusNoticeShown.count()));
    });
}
