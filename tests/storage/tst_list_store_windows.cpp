#include "app/app_context.h"
#include "app/browser_profile.h"
#include "download/download_window.h"
#include "download/task_list_view.h"
#include "scripted_prompter.h"
#include "settings/settings_store.h"
#include "settings/shared_options.h"
#include "storage/list_store.h"
#include "test_main.h"
#include "tools/time_limits.h"

#include <QLabel>
#include <QPointer>
#include <QStatusBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QWebEngineProfile>

// The download window on the program's kept task list.
class TestListStoreWindows : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    QWebEngineProfile* profile_ = nullptr;
    std::unique_ptr<SettingsStore> settings_;
    SharedOptions options_;

    QString storePath() const { return dir_.filePath(QStringLiteral("lists.sqlite")); }

    AppContext context(ListStore* lists) {
        AppContext c{*settings_, options_, profile_, QString(), QString()};
        c.lists = lists;
        return c;
    }

private slots:
    void initTestCase() {
        TimeLimits::SetScale(0.01);
        profile_ = CreateBrowserProfile(this);
        settings_ = std::make_unique<SettingsStore>(dir_.filePath(QStringLiteral("s.ini")));
    }

    // A window opened again, in this run or the next, shows the list as it was;
    // a window of its own (no store) starts empty; trouble writing is in the
    // status bar for as long as it lasts.
    void theWindowShowsTheKeptList() {
        const QString folder = dir_.path() + u'/';
        {
            ListStore lists;
            QVERIFY(lists.open(storePath()));
            AppContext c = context(&lists);
            ScriptedPrompter prompter;
            {
                fFileDownload w(c, &prompter);
                QCOMPARE(&w.tasks, &lists.tasks());
                for (int i = 0; i < 5; ++i)
                    QVERIFY(w.tasks.appendTask(QStringLiteral("http://h/%1.pdf").arg(i),
                                               QStringLiteral("p%1").arg(i), QStringLiteral("pdf"),
                                               folder));
                w.tasks.setState(2, TaskState::Failed);

                auto* problem =
                    w.statusBar()->findChild<QLabel*>(QStringLiteral("ListStoreProblem"));
                QVERIFY(problem);
                QVERIFY(problem->isHidden());
                emit lists.problemChanged(QStringLiteral("磁盘已满"));
                QVERIFY(!problem->isHidden());
                QVERIFY(problem->text().contains(QStringLiteral("列表未能保存到磁盘（磁盘已满）")));
                emit lists.problemChanged(QString());
                QVERIFY(problem->isHidden());
            }
            // Closed and opened again in the same run: nothing was cleared.
            fFileDownload again(c, &prompter);
            QCOMPARE(again.ListView3->model()->rowCount(), 5);
        }

        ListStore lists;
        QVERIFY(lists.open(storePath()));
        QVERIFY(lists.notice().isEmpty());
        AppContext c = context(&lists);
        ScriptedPrompter prompter;
        fFileDownload w(c, &prompter);
        QCOMPARE(w.ListView3->model()->rowCount(), 5);
        QCOMPARE(w.tasks.task(2).state, TaskState::Failed);
        QCOMPARE(w.tasks.task(5).url, QStringLiteral("http://h/4.pdf"));

        AppContext alone = context(nullptr);
        fFileDownload own(alone, &prompter);
        QVERIFY(&own.tasks != &lists.tasks());
        QCOMPARE(own.tasks.count(), 0);
        QVERIFY(!own.statusBar()->findChild<QLabel*>(QStringLiteral("ListStoreProblem")));
    }
};

QM_TEST_WIDGETS_MAIN(TestListStoreWindows)
#include "tst_list_store_windows.moc"
