#include "app/page_snapshot.h"

#include <QStringEncoder>

#include <string>
#include <vector>

namespace vexel::app {
namespace {

// The walk is iterative: a page nested a hundred thousand levels deep would
// overflow the script engine's stack in a recursive one. Below an element
// that has no boxes (display: none, the head), nothing has boxes, so its
// subtree is marked without asking again; an element with display: contents
// has no boxes of its own but its children do, so it counts as rendered.
// offsetParent answers "has a box" for most elements without building the
// rectangle list that getClientRects would; elements it cannot speak for
// (fixed position, body, SVG) ask getClientRects. The output is one growing
// string rather than an array joined at the end: on a 1 MB page both
// together take the walk from about 0.6 s to about 0.4 s.
// A lone surrogate (half an emoji, cut by the page) is one code unit here but
// turns into replacement characters on its way to the program, which would
// put every later length out of step; each becomes U+FFFD before it is
// measured.
// The script runs in the program's own script world, so nothing the page has
// redefined (String.prototype methods, getters on its elements) can change
// the walk.
constexpr char16_t kScript[] =
    uR"JS((function () {
  var out = '';
  var surrogate = /[\uD800-\uDFFF]/;
  var lone = /\p{Cs}/gu;
  function clean(s) { return surrogate.test(s) ? s.replace(lone, '\uFFFD') : s; }
  var hiddenRoot = null;
  var n = document.firstChild;
  while (n) {
    var type = n.nodeType;
    if (type === 1) {
      var rendered = false;
      if (hiddenRoot === null) {
        var parent = n.offsetParent;
        rendered = (parent !== null && parent !== undefined) || n.getClientRects().length > 0;
        if (!rendered) {
          rendered = getComputedStyle(n).display === 'contents';
          if (!rendered && n.firstChild) hiddenRoot = n;
        }
      }
      var name = n.localName;
      var attrs = n.attributes;
      out += (rendered ? 'E1' : 'E0') + name.length + ':' + name + attrs.length + ':';
      for (var i = 0; i < attrs.length; i++) {
        var a = attrs[i];
        var an = clean(a.name);
        var av = clean(a.value);
        out += an.length + ':' + an + av.length + ':' + av;
      }
      if (n.firstChild) { n = n.firstChild; continue; }
      out += ')';
    } else if (type === 3 || type === 4 || type === 8) {
      var data = clean(n.data);
      out += (type === 8 ? 'C' : 'T') + data.length + ':' + data;
    }
    while (n !== null && n.nextSibling === null) {
      n = n.parentNode;
      if (n === null || n === document) { n = null; break; }
      out += ')';
      if (n === hiddenRoot) hiddenRoot = null;
    }
    if (n !== null) n = n.nextSibling;
  }
  return out;
})())JS";

// Walks the records. Fields are converted to UTF-8 into buffers that are
// reused from record to record, so a page of many thousand elements costs no
// allocation per field.
class Reader {
 public:
  explicit Reader(QStringView text) : text_(text) {}

  bool AtEnd() const { return pos_ >= text_.size(); }
  QChar Next() { return text_[pos_++]; }

  // A decimal number followed by ':', no larger than what is left to read.
  bool Count(qsizetype& value) {
    value = 0;
    qsizetype digits = 0;
    while (pos_ < text_.size() && text_[pos_] >= u'0' && text_[pos_] <= u'9') {
      value = value * 10 + (text_[pos_].unicode() - u'0');
      if (value > text_.size()) {
        return false;
      }
      ++pos_;
      ++digits;
    }
    if (digits == 0 || pos_ >= text_.size() || text_[pos_] != u':') {
      return false;
    }
    ++pos_;
    return true;
  }

  // Appends the next field's text, as UTF-8, to `out`.
  bool Field(std::string& out) {
    qsizetype length = 0;
    if (!Count(length) || length > text_.size() - pos_) {
      return false;
    }
    const QStringView field = text_.sliced(pos_, length);
    pos_ += length;
    const std::size_t old_size = out.size();
    out.resize(old_size + static_cast<std::size_t>(encoder_.requiredSpace(length)));
    encoder_.resetState();
    char* end = encoder_.appendToBuffer(out.data() + old_size, field);
    out.resize(static_cast<std::size_t>(end - out.data()));
    return true;
  }

 private:
  QStringView text_;
  qsizetype pos_ = 0;
  QStringEncoder encoder_{QStringEncoder::Utf8};
};

}  // namespace

const QString& SnapshotScript() {
  static const QString script = QString::fromUtf16(kScript);
  return script;
}

bool ReadSnapshot(QStringView snapshot, SnapshotSink& sink) {
  Reader reader(snapshot);
  std::string texts;              // the tag and attribute texts of one element, back to back
  std::vector<std::size_t> ends;  // where each of those texts ends in `texts`
  std::vector<html::HtmlAttributeView> attributes;
  std::size_t open = 0;
  bool ok = true;
  while (ok && !reader.AtEnd()) {
    const QChar kind = reader.Next();
    if (kind == u'E') {
      const QChar flag = reader.AtEnd() ? QChar() : reader.Next();
      texts.clear();
      ends.clear();
      qsizetype count = 0;
      ok = (flag == u'0' || flag == u'1') && reader.Field(texts) && reader.Count(count);
      ends.push_back(texts.size());
      for (qsizetype i = 0; ok && i < 2 * count; ++i) {
        ok = reader.Field(texts);
        ends.push_back(texts.size());
      }
      if (!ok) {
        break;
      }
      // Views only now that `texts` has stopped growing.
      const std::string_view all(texts);
      attributes.clear();
      for (std::size_t i = 1; i + 1 < ends.size(); i += 2) {
        attributes.push_back({all.substr(ends[i - 1], ends[i] - ends[i - 1]),
                              all.substr(ends[i], ends[i + 1] - ends[i])});
      }
      sink.OpenElement(all.substr(0, ends[0]), attributes, flag == u'1');
      ++open;
    } else if (kind == u')') {
      ok = open > 0;
      if (!ok) {
        break;
      }
      sink.CloseElement();
      --open;
    } else if (kind == u'T' || kind == u'C') {
      texts.clear();
      ok = reader.Field(texts);
      if (!ok) {
        break;
      }
      if (kind == u'T') {
        sink.AddText(texts);
      } else {
        sink.AddComment(texts);
      }
    } else {
      ok = false;
    }
  }
  for (; open > 0; --open) {
    sink.CloseElement();
  }
  return ok;
}

}  // namespace vexel::app
