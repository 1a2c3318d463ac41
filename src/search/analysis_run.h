#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include <qcoro/qcorotask.h>

#include <functional>

class PdfLinkResolver;
class RecordListModel;
class SearchFlags;
struct SharedOptions;

// Which records a run analyses (the items of the "加入" menu).
enum class AnalysisVariant {
    Unanalysed, // "分析未分析项": empty status
    Failed,     // "分析失败项": status "失败"
    Selected,   // "分析选中项"
    All,        // "分析全部"
};

// A PDF address handed to the download manager.
struct FoundPdf {
    QString url;
    QString name; // save-name stem, already cleaned
    QString type;
    QString folder;
};

// Walks the record list, resolves each chosen record's full-text link to a PDF
// address and hands the address over as a download task.
class AnalysisRun : public QObject {
    Q_OBJECT

public:
    AnalysisRun(RecordListModel& records, SearchFlags& flags, PdfLinkResolver& resolver,
                SharedOptions& options, QObject* parent = nullptr);

    // What the run needs from its surroundings; unset ones do nothing.
    std::function<bool(int row)> isSelected;       // 1-based row, for "分析选中项"
    std::function<void()> chooseFolder;            // the folder chooser, modal
    std::function<void(const FoundPdf&)> handOver; // appends a download task
    std::function<void()> showDownloads;           // brings the download window up

    // The run behind the four menu items. A second run while one is active is refused.
    QCoro::Task<void> RunAnalysis(AnalysisVariant variant);
    // Resolves and hands over one record (found by its full-text link); true
    // when a PDF address was found. The record's status tells the same.
    QCoro::Task<bool> AnalyseRecord(QString link);

    bool running() const { return running_; }

signals:
    void runningChanged(bool running);
    // A record got its status: "成功" with the PDF address found, or "失败"
    // (empty address). row is 0 when the record left the list meanwhile.
    void recordAnalysed(int row, const QString& pdfAddress);

private:
    bool chosen(int row, AnalysisVariant variant) const;

    RecordListModel& records_;
    SearchFlags& flags_;
    QPointer<PdfLinkResolver> resolver_;
    SharedOptions& options_;
    bool running_ = false;
};

// The save-name stem of a found PDF: the title without line breaks, or with
// useOriginalName the file name at the end of the address; cleaned for the file
// system. When that leaves nothing, the other source, then "download".
QString PdfSaveName(const QString& title, const QString& pdfAddress, bool useOriginalName);
