#include "app/page_document.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

PageDocument::PageDocument(const QString& url)
    : url_(url) {}

QList<int> PageDocument::collect(int from, int to, const QString& tag) const {
    QList<int> found;
    const bool all = tag == u"*";
    for (int i = from; i < to; ++i) {
        if (all || elements_.at(i).element.tagName.compare(tag, Qt::CaseInsensitive) == 0)
            found.append(i);
    }
    return found;
}

QList<int> PageDocument::getElementsByTagName(const QString& tag) const {
    return collect(0, size(), tag);
}

QList<int> PageDocument::getElementsByTagName(int within, const QString& tag) const {
    if (within < 0 || within >= size())
        return {};
    return collect(within + 1, elements_.at(within).subtreeEnd, tag);
}

int PageDocument::getElementById(const QString& id) const {
    if (id.isEmpty())
        return -1;
    for (int i = 0; i < size(); ++i) {
        if (elements_.at(i).element.id == id)
            return i;
    }
    return -1;
}

int PageDocument::begin(PageElement element) {
    int index = 0;
    for (const Node& n : elements_) {
        if (n.element.tagName.compare(element.tagName, Qt::CaseInsensitive) == 0)
            ++index;
    }
    element.tagIndex = index;
    elements_.append({std::move(element), 0});
    const int at = size() - 1;
    elements_[at].subtreeEnd = at + 1;
    open_.append(at);
    return at;
}

void PageDocument::end() {
    if (open_.isEmpty())
        return;
    elements_[open_.takeLast()].subtreeEnd = size();
}

int PageDocument::add(PageElement element) {
    const int at = begin(std::move(element));
    end();
    return at;
}

std::optional<PageDocument> PageDocument::fromJson(const QByteArray& json) {
    PageDocument doc;
    if (!doc.appendJson(json))
        return std::nullopt;
    return doc;
}

std::optional<int> PageDocument::appendJson(const QByteArray& json) {
    QJsonParseError error;
    const QJsonDocument parsed = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !parsed.isObject())
        return std::nullopt;
    const QJsonObject root = parsed.object();
    const int offset = size();
    if (offset == 0) {
        url_ = root.value(u"url").toString();
        firstFrameReachable_ = root.value(u"frame").toBool();
    }
    const QJsonArray list = root.value(u"els").toArray();
    elements_.reserve(offset + list.size());
    for (const QJsonValue& v : list) {
        const QJsonObject o = v.toObject();
        Node node;
        PageElement& e = node.element;
        e.tagName = o.value(u"t").toString();
        e.tagIndex = o.value(u"i").toInt();
        e.className = o.value(u"c").toString();
        e.innerText = o.value(u"x").toString();
        e.innerHTML = o.value(u"h").toString();
        e.title = o.value(u"ti").toString();
        e.href = o.value(u"hr").toString();
        e.checked = o.value(u"ck").toBool();
        e.name = o.value(u"n").toString();
        e.type = o.value(u"ty").toString();
        e.value = o.value(u"v").toString();
        e.id = o.value(u"id").toString();
        e.content = o.value(u"co").toString();
        e.httpEquiv = o.value(u"he").toString();
        node.subtreeEnd = offset + o.value(u"e").toInt();
        elements_.append(std::move(node));
    }
    // A malformed end would let a collection run past the list.
    for (int i = offset; i < size(); ++i) {
        int& end = elements_[i].subtreeEnd;
        end = std::clamp(end, i + 1, size());
    }
    return root.value(u"total").toInt();
}

QStringList DefaultHeavyTags() {
    return {QStringLiteral("A"), QStringLiteral("H3")};
}

QString PageSnapshotScript(const QStringList& heavyTags, const QStringList& onlyTags, int start,
                           int count) {
    const auto json = [](const QStringList& list) {
        return QString::fromUtf8(
            QJsonDocument(QJsonArray::fromStringList(list)).toJson(QJsonDocument::Compact));
    };
    return QStringLiteral(R"JS((function (heavyTags, onlyTags, start, count, textLimit) {
  var heavy = {};
  heavyTags.forEach(function (t) { heavy[t.toUpperCase()] = true; });
  var out = [], counters = {};
  // Only a snapshot in parts is bounded: its elements may nest without end.
  function cut(s) { return onlyTags.length && s.length > textLimit ? s.slice(0, textLimit) : s; }
  function str(v) { return typeof v === 'string' ? v : ''; }
  function put(rec, key, v) { if (v) rec[key] = v; }
  function record(el) {
    var tag = el.tagName, up = tag.toUpperCase();
    var idx = counters[tag] || 0; counters[tag] = idx + 1;
    var rec = { t: tag, i: idx };
    try {
      put(rec, 'c', typeof el.className === 'string' ? el.className : str(el.getAttribute('class')));
      put(rec, 'id', str(el.id));
      put(rec, 'ti', str(el.title));
      put(rec, 'n', typeof el.name === 'string' ? el.name : str(el.getAttribute('name')));
      if (up === 'A' || up === 'AREA') {
        var attr = el.getAttribute('href');
        put(rec, 'hr', attr && /^\s*javascript:/i.test(attr) ? attr : str(el.href));
      }
      if (up === 'INPUT' || up === 'SELECT' || up === 'TEXTAREA' || up === 'BUTTON' || up === 'OPTION') {
        put(rec, 'v', str(el.value));
        put(rec, 'ty', str(el.type));
        if (el.checked === true) rec.ck = true;
      } else {
        put(rec, 'ty', str(el.getAttribute('type')));
      }
      if (up === 'META') { put(rec, 'co', str(el.content)); put(rec, 'he', str(el.httpEquiv)); }
      if (heavy[up]) { put(rec, 'x', cut(str(el.innerText))); put(rec, 'h', cut(str(el.innerHTML))); }
    } catch (e) {}
    return rec;
  }
  function walk(root) {
    var stack = [[root, -1]];
    while (stack.length) {
      var top = stack.pop(), el = top[0];
      if (top[1] >= 0) { out[top[1]].e = out.length; continue; }
      var me = out.length;
      out.push(record(el));
      stack.push([el, me]);
      var kids = [];
      for (var c = el.firstElementChild; c; c = c.nextElementSibling) kids.push(c);
      for (var k = kids.length - 1; k >= 0; --k) stack.push([kids[k], -1]);
    }
  }
  var frame = false;
  try { frame = window.frames.length > 0 && !!window.frames[0].document; } catch (e) { frame = false; }
  if (onlyTags.length) {
    // Kept in this script world between the parts of one snapshot.
    var st = window.__quillmarshSnapshot;
    if (start > 0 && !st)
      return null; // another document since the first part
    if (start === 0) {
      // Lower case matches in HTML and XHTML documents alike.
      var selector = onlyTags.map(function (t) { return t.toLowerCase(); }).join(',');
      st = window.__quillmarshSnapshot = { list: document.querySelectorAll(selector), counters: {} };
    }
    counters = st.counters;
    var end = count < 0 ? st.list.length : Math.min(st.list.length, start + count);
    for (var n = start; n < end; ++n) out.push(record(st.list[n]));
    if (end >= st.list.length) window.__quillmarshSnapshot = null;
    return JSON.stringify({ url: document.URL, frame: frame, total: st.list.length, els: out });
  }
  if (document.documentElement) walk(document.documentElement);
  return JSON.stringify({ url: document.URL, frame: frame, els: out });
})(%1, %2, %3, %4, %5))JS")
        .arg(json(heavyTags), json(onlyTags))
        .arg(start)
        .arg(count)
        .arg(SnapshotTextLimit);
}
