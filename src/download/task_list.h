#pragma once

#include <QAbstractTableModel>
#include <QDateTime>
#include <QHash>
#include <QIcon>
#include <QList>

#include <functional>
#include <optional>

enum class TaskState : int { Waiting = 1, Downloading = 2, Done = 3, Failed = 4 };

// How the task's last attempt ended, as a value rather than a cell text.
enum class TaskResult : int {
    None,            // not tried yet, or queued again
    Saved,           // its file is complete at savedPath
    SkippedExisting, // a file of that name was there and the policy is skip
    SkippedTooBig,   // larger than the size limit
    Failed,
    Cancelled, // stopped by the user
};

// The status-bar word of a state.
QString TaskStateWord(TaskState state);

// "htm" or "html", and "xml" when xmlToo; case ignored.
bool IsWebPageType(const QString& type, bool xmlToo);

// One download: a row of the task list.
struct DownloadTask {
    qint64 id = 0;    // stable while the task is listed, never reused; 0 until listed
    QString url;      // the key, unique in the list
    QString name;     // save-name stem
    QString type;     // extension without the dot; may be empty
    QString size;     // "文件大小"
    QString received; // "已下载数"
    QString percent;  // "百分比": "n%" or an outcome note
    QString folder;   // ends with "/" once prepared
    QString marker;   // "B": "Y" asks for the base-reference step
    QString referer;  // the tag
    TaskState state = TaskState::Waiting;
    TaskResult result = TaskResult::None;
    QString savedPath;   // the file this task wrote: the only one its commands delete
    QString partPath;    // its unfinished body, kept for a resume
    QString error;       // why the last attempt failed
    QDateTime notBefore; // the server asked not to be tried again before this

    // folder + name (+ "." + type)
    QString filePath() const;
    bool hasWebPageType() const; // "htm" or "html", case ignored
    // savedPath / partPath when it still lies inside the task's folder, else empty text.
    QString ownedFilePath() const;
    QString ownedPartPath() const;

    bool operator==(const DownloadTask&) const = default;
};

// Deletes the file the task wrote, if any, and forgets it; other files stay.
void DeleteOwnedFile(DownloadTask& task);
// Forgets the task's kept part, deleting it only while it is the task's own: kept
// for the task's address and not held by a running download.
void ForgetPartFile(DownloadTask& task);

// Told of every change to a task list as it happens, before any view repaints:
// what keeps the list on disk. Tasks are named by their ids.
class TaskListObserver {
public:
    virtual ~TaskListObserver() = default;
    // Appended at the end, in this order.
    virtual void tasksAdded(const QList<DownloadTask>& tasks) = 0;
    virtual void tasksChanged(const QList<DownloadTask>& tasks) = 0;
    // Only the progress cells changed (often: the observer may hold them back).
    virtual void progressChanged(const DownloadTask& task) = 0;
    virtual void tasksRemoved(const QList<qint64>& ids) = 0;
    virtual void allTasksRemoved() = 0;
    // The list's new order, every id.
    virtual void orderChanged(const QList<qint64>& ids) = 0;
    // Something a transfer thread calls just before it puts the task's file in place
    // (and with empty text when that failed); returns once that is on record. Empty:
    // nothing to record.
    virtual std::function<bool(const QString& path)> fileCommitRecorder(qint64 id) = 0;
};

// The task list behind ListView3. Rows are addressed from 1; the URL is a
// unique key found through a hash index. Bulk changes announce only the rows they
// change, so views keep their selection and current row.
class TaskListModel : public QAbstractTableModel {
    Q_OBJECT

public:
    enum Column {
        NameColumn,
        TypeColumn,
        SizeColumn,
        ReceivedColumn,
        PercentColumn,
        FolderColumn,
        MarkerColumn,
        ColumnCount
    };
    // The row's state as an int, for views that draw the state pictures.
    static constexpr int StateRole = Qt::UserRole + 1;

    // Initial column widths, in twips.
    static int ColumnWidthTwips(int column);
    // The text a task shows in a column.
    static QString CellText(const DownloadTask& task, int column);

    using QAbstractTableModel::QAbstractTableModel;

    // Pictures of the states Waiting, Downloading, Done and Failed, shown before the name.
    void setStateIcons(const QList<QIcon>& icons) { stateIcons_ = icons; }

    // Replaces the whole list with tasks kept from before (their ids stay), telling
    // no observer: they come from where the observer keeps them. New tasks get ids
    // above usedId as well (ids of rows kept but not loaded).
    void loadTasks(QList<DownloadTask> tasks, qint64 usedId = 0);
    // Told of every change from now on; nullptr: nobody.
    void setObserver(TaskListObserver* observer) { observer_ = observer; }
    TaskListObserver* observer() const { return observer_; }

    int count() const { return int(tasks_.size()); }
    const DownloadTask& task(int row) const { return tasks_.at(row - 1); }
    // 1-based row of url, or 0.
    int rowOf(const QString& url) const { return index_.value(url, -1) + 1; }
    // 1-based row of the task with this id, or 0 when it is no longer listed.
    int rowOfId(qint64 id) const { return idIndex_.value(id, -1) + 1; }

    // Appends a waiting task unless its URL is listed; false then.
    bool appendTask(const QString& url, const QString& name, const QString& type,
                    const QString& folder, const QString& referer = {});
    // Appends many tasks in one change, each unless its URL is listed; how many were added.
    int appendTasks(QList<DownloadTask> tasks);

    void setState(int row, TaskState state);
    void setCell(int row, Column column, const QString& text);
    void setName(int row, const QString& name) { setCell(row, NameColumn, name); }
    // Empties "文件大小", "已下载数" and "百分比".
    void clearProgress(int row);
    // The three progress cells at once, one repaint.
    void setProgress(int row, const QString& size, const QString& received, const QString& percent);
    // Changes one task's fields other than its key and id; one repaint of the row.
    void editTask(int row, const std::function<void(DownloadTask&)>& edit);

    // Runs edit on every row (or on the given 1-based rows) and announces the rows
    // it changed, nothing else. Keys and ids stay. Returns how many rows changed.
    int editRows(const std::function<void(DownloadTask&)>& edit);
    int editRows(const QList<int>& rows, const std::function<void(DownloadTask&)>& edit);
    // Removes the given 1-based rows; the rows that stay keep their selection.
    void removeTaskRows(QList<int> rows);
    void clear();
    // Replaces URL keys and referers; refused (returns the first clashing key)
    // when two rows would end up with the same key.
    std::optional<QString> replaceUrls(const std::function<QString(const QString&)>& rewrite);

    // Sorting by a header: numbers compare as 12-digit zero-padded text, the
    // cells themselves keep their text.
    void sortByColumn(int column, Qt::SortOrder order);
    // Reorders rows: order[i] is the 0-based old position of the new row i.
    // Selections and the current row follow their rows. Not a permutation: nothing.
    void reorder(const QList<int>& order);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // What the once-a-second supervisor needs, from a single pass over the list.
    struct Summary {
        int perState[5] = {};  // index = state
        int notDownloaded = 0; // as 统计未下载项数目
        int problems = 0;      // as CountProblemTasks
        bool finished() const { return perState[1] == 0 && perState[2] == 0; }
    };
    Summary Summarize() const;
    static QString CountsText(int total, const Summary& summary);

    // Queries over the whole list, each one pass in list order.
    int 统计未下载项数目() const;
    bool 检测是否下载列表完毕() const;
    int CountProblemTasks() const;
    // "总数:T 正在下载:D 等待:W 已完成:C 失败:F"
    QString TaskCountsText() const;

    // Puts a task back into the queue, deleting its file.
    void RequeueTask(int row);
    // The same for many rows, painted once.
    void RequeueTasks(const QList<int>& rows);
    void RequeueFailedTasks();
    void RequeueWebPageTasks();

signals:
    void countChanged(int count);

private:
    // Both return whether the task changed.
    static bool requeue(DownloadTask& task, bool xmlIsWebPage);
    static bool editKeepingKeys(DownloadTask& task, const std::function<void(DownloadTask&)>& edit);
    void rebuildIndex();
    void emitRowChanged(int row0);
    void notifyChanged(int row0);
    // dataChanged for the given 0-based rows (ascending), a signal per run of neighbours.
    void announceRows(const QList<int>& rows0);
    // Moves rows into order (as reorder) between the layout signals; no checks.
    void applyOrder(const QList<int>& order);

    TaskListObserver* observer_ = nullptr;
    QList<DownloadTask> tasks_;
    QHash<QString, int> index_;
    QHash<qint64, int> idIndex_;
    qint64 lastId_ = 0;
    QList<QIcon> stateIcons_;
};
