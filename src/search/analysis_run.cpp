#include "search/analysis_run.h"

#include "download/save_names.h"
#include "search/address_names.h"
#include "search/pdf_link_resolver.h"
#include "search/record_list.h"
#include "search/search_flags.h"
#include "settings/shared_options.h"
#include "tools/text_utils.h"

AnalysisRun::AnalysisRun(RecordListModel& records, SearchFlags& flags, PdfLinkResolver& resolver,
                         SharedOptions& options, QObject* parent)
    : QObject(parent)
    , records_(records)
    , flags_(flags)
    , resolver_(&resolver)
    , options_(options) {}

bool AnalysisRun::chosen(int row, AnalysisVariant variant) const {
    switch (variant) {
    case AnalysisVariant::Unanalysed:
        return records_.record(row).status.isEmpty();
    case AnalysisVariant::Failed:
        return records_.record(row).status == RecordStatus::Failed;
    case AnalysisVariant::Selected:
        return isSelected && isSelected(row);
    case AnalysisVariant::All:
        return true;
    }
    return false;
}

QCoro::Task<void> AnalysisRun::RunAnalysis(AnalysisVariant variant) {
    QPointer<AnalysisRun> self = this;
    if (running_)
        co_return; // there is one hidden browser
    running_ = true;
    emit runningChanged(true);
    flags_.setStopAnalysis(false);

    if (records_.count() > 0) {
        // With the question at harvest time the records carry their folder already.
        if (options_.PromptSaveFolder == 1)
            options_.FolderChooserCancelled = false;
        else if (chooseFolder)
            chooseFolder();
        if (!self)
            co_return;
        if (!options_.FolderChooserCancelled) {
            const int n = records_.count();
            for (int row = 1; row <= n && row <= records_.count(); ++row) {
                if (!chosen(row, variant))
                    continue;
                const QString link = records_.record(row).link;
                records_.setStatus(row, RecordStatus::Analysing);
                co_await AnalyseRecord(link);
                if (!self)
                    co_return;
                if (flags_.StopAnalysis())
                    break;
            }
        }
    }

    running_ = false;
    flags_.setStopAnalysis(true);
    emit runningChanged(false);
    if (showDownloads)
        showDownloads();
}

QCoro::Task<bool> AnalysisRun::AnalyseRecord(QString link) {
    QPointer<AnalysisRun> self = this;
    if (records_.rowOfLink(link) == 0)
        co_return false;
    const SearchRecord record = records_.record(records_.rowOfLink(link));
    QString pdf;
    if (resolver_)
        pdf = co_await resolver_->获取PDF下载网址(link);
    if (!self)
        co_return false;
    // The row is found again: the list may have changed during the wait.
    const int row = records_.rowOfLink(link);
    if (pdf.isEmpty()) {
        records_.setStatus(row, RecordStatus::Failed);
        emit recordAnalysed(row, QString());
        co_return false;
    }
    const FoundPdf found{pdf, PdfSaveName(record.title, pdf, options_.UseOriginalFileName),
                         record.type,
                         record.folder.isEmpty() ? options_.DownloadFolder : record.folder};
    if (handOver)
        handOver(found);
    if (!self)
        co_return true;
    records_.setStatus(row, RecordStatus::Found);
    emit recordAnalysed(row, pdf);
    co_return true;
}

QString PdfSaveName(const QString& title, const QString& pdfAddress, bool useOriginalName) {
    const QString fromTitle = SanitizeFileName(TrimSpaces(RemoveLineBreaks(title)));
    const QString fromAddress = SanitizeFileName(FileNameFromAddress(pdfAddress, true));
    QString name = useOriginalName ? fromAddress : fromTitle;
    if (name.isEmpty())
        name = useOriginalName ? fromTitle : fromAddress;
    if (name.isEmpty())
        name = QStringLiteral("download");
    return name;
}
