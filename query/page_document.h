// The document as the element query language sees it.
//
// The query language never talks to a browser or a parser directly: it walks a
// PageDocument and reads or acts on PageElements. The window binds these to the
// page shown in the browser view; tests and the command line bind them to an
// in-memory document built from markup.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vexel {

// The eight properties a query can name, spelled as in queries.
enum class ElementProperty {
  Id,         // "id": the id attribute
  ClassName,  // "className": the class attribute
  Title,      // "title": the title attribute
  TagName,    // "tagName": the tag name, in capitals
  InnerText,  // "innerText": the rendered text of the content
  OuterText,  // "outerText": reads as innerText
  InnerHTML,  // "innerHTML": the markup of the content
  OuterHTML,  // "outerHTML": the markup with the element's own tags
};

// The property whose query name is exactly `name` (case-sensitive), if any.
std::optional<ElementProperty> PropertyFromName(std::string_view name);

// The property whose query name `text` begins with ("innerText element ..."
// gives InnerText), the names tried in the order above; a read head is named
// this way.
std::optional<ElementProperty> PropertyAtStartOf(std::string_view text);

// The query name of a property ("className", "innerText", ...).
std::string_view PropertyName(ElementProperty property);

// What became of a write-side action.
enum ActionOutcome : int {
  ActionDone = 0,           // the document performed the action
  ActionFailed = 1,         // right kind of element, but the document refused
  ActionNotApplicable = 2,  // wrong kind of element, or the action could not be prepared
};

class PageElement {
 public:
  virtual ~PageElement() = default;

  // Writes the UTF-8 text of `property` into `out`, replacing what it held.
  // An absent attribute or a property the document cannot deliver gives the
  // empty text, never an error. Taking the buffer lets a walk over many
  // elements reuse one allocation.
  virtual void ReadProperty(ElementProperty property, std::string& out) const = 0;

  // Convenience wrapper over the buffer form.
  std::string Read(ElementProperty property) const {
    std::string text;
    ReadProperty(property, text);
    return text;
  }

  // The value of attribute `name` (as the parser gives names: lower case)
  // into `out`; false, with `out` empty, when the element has no such
  // attribute or the document cannot say. This is no property a query can
  // name: it serves readers of links (href) beside the query language.
  virtual bool ReadAttribute(std::string_view /*name*/, std::string& out) const {
    out.clear();
    return false;
  }

  // Write side. Click never gives ActionNotApplicable.
  virtual ActionOutcome Click() = 0;
  // SELECT elements only: makes option `index` (0-based) the selected one.
  virtual ActionOutcome SetSelectedIndex(long index) = 0;
  // INPUT elements only: sets the field's value.
  virtual ActionOutcome SetValue(std::string_view value) = 0;

 protected:
  PageElement() = default;
  PageElement(const PageElement&) = default;
  PageElement& operator=(const PageElement&) = default;
  PageElement(PageElement&&) = default;
  PageElement& operator=(PageElement&&) = default;
};

class PageDocument {
 public:
  virtual ~PageDocument() = default;

  // True while the page is still loading.
  virtual bool IsBusy() = 0;

  // Number of entries in the list of all elements, in document order (the
  // order of their start tags). The query language reads it once per walk.
  virtual long ElementCount() = 0;

  // Entry `index` (0-based), or nullptr when the entry is not an element or
  // cannot be obtained. The element is owned by the document and stays valid
  // until the document is next asked for its count or is destroyed.
  virtual PageElement* ElementAt(long index) = 0;

 protected:
  PageDocument() = default;
  PageDocument(const PageDocument&) = default;
  PageDocument& operator=(const PageDocument&) = default;
  PageDocument(PageDocument&&) = default;
  PageDocument& operator=(PageDocument&&) = default;
};

}  // namespace vexel
