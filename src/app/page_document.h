#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// One element of a page as the rules read it. Members the snapshot did not take
// (or that the element does not have) read as empty.
struct PageElement {
    QString tagName;  // as the page reports it, upper case for HTML elements
    int tagIndex = 0; // position in document.getElementsByTagName(tagName)
    QString className;
    QString innerText;
    QString innerHTML;
    QString title;
    QString href; // absolute; for "javascript:" links the attribute text as written
    bool checked = false;
    QString name;
    QString type;
    QString value;
    QString id;
    QString content;   // meta
    QString httpEquiv; // meta
};

// An in-memory copy of a page's element tree, taken in one go from the live page
// (or built in code). Elements are kept in document order.
class PageDocument {
public:
    PageDocument() = default;
    explicit PageDocument(const QString& url);

    // Parses the browser snapshot (JSON); nothing when it is not one.
    static std::optional<PageDocument> fromJson(const QByteArray& json);
    // Adds the elements of one part of a snapshot taken in parts (the first
    // part also gives the address). The number of elements the whole snapshot
    // has, or nothing when json is no snapshot.
    std::optional<int> appendJson(const QByteArray& json);

    QString URL() const { return url_; }
    // The page has a first frame whose document could be read.
    bool firstFrameReachable() const { return firstFrameReachable_; }
    void setFirstFrameReachable(bool reachable) { firstFrameReachable_ = reachable; }

    int size() const { return int(elements_.size()); }
    const PageElement& at(int index) const { return elements_.at(index).element; }
    // One past the last descendant of element index: its descendants are the
    // elements from index + 1 up to there.
    int subtreeEnd(int index) const { return elements_.at(index).subtreeEnd; }

    // Indices of the matching elements, in document order; "*" matches all.
    QList<int> getElementsByTagName(const QString& tag) const;
    // The same, among the descendants of element index within.
    QList<int> getElementsByTagName(int within, const QString& tag) const;
    // Index of the first element with that id, or -1.
    int getElementById(const QString& id) const;

    // Building in code: begin() opens an element (its children follow until the
    // matching end()); add() is begin() + end().
    int begin(PageElement element);
    void end();
    int add(PageElement element);

private:
    struct Node {
        PageElement element;
        int subtreeEnd = 0; // one past the last descendant
    };
    QList<int> collect(int from, int to, const QString& tag) const;

    QString url_;
    bool firstFrameReachable_ = false;
    QList<Node> elements_;
    QList<int> open_;
};

// Bounds of a snapshot taken in parts, so a hostile page cannot make it grow
// without end: characters of one element's text or markup, and elements.
inline constexpr int SnapshotTextLimit = 65536;
inline constexpr int SnapshotElementLimit = 500000;

// The script that takes a snapshot of the page it runs in; heavy members
// (innerText, innerHTML) only for the given tags. With onlyTags, only elements
// of those tags, in document order, without their nesting: count of them from
// start (all when count is negative), so a huge page is read in parts; texts
// and markup cut at SnapshotTextLimit.
QString PageSnapshotScript(const QStringList& heavyTags, const QStringList& onlyTags = {},
                           int start = 0, int count = -1);

// Tags whose text and markup the rules read.
QStringList DefaultHeavyTags();
