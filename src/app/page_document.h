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

    QString URL() const { return url_; }
    // The page has a first frame whose document could be read.
    bool firstFrameReachable() const { return firstFrameReachable_; }
    void setFirstFrameReachable(bool reachable) { firstFrameReachable_ = reachable; }

    int size() const { return int(elements_.size()); }
    const PageElement& at(int index) const { return elements_.at(index).element; }

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

// The script that takes a snapshot of the page it runs in; heavy members
// (innerText, innerHTML) only for the given tags.
QString PageSnapshotScript(const QStringList& heavyTags);

// Tags whose text and markup the rules read.
QStringList DefaultHeavyTags();
