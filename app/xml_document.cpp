#include "app/xml_document.h"

#include <oleauto.h>

#include <cstring>
#include <new>

#include "core/error.h"
#include "core/text.h"

namespace pageturn {

namespace {

// msxml3.dll's DOMDocument30; mingw-w64 ships no import library with the MSXML class ids.
const CLSID CLSID_DOMDocument30 = {
    0xF5078F32, 0xC551, 0x11D3, {0x89, 0xB9, 0x00, 0x00, 0xF8, 0x1F, 0xE2, 0x21}};

class TBstr {
 public:
  TBstr() = default;
  ~TBstr() { ::SysFreeString(value_); }
  TBstr(const TBstr&) = delete;
  TBstr& operator=(const TBstr&) = delete;
  BSTR* Out() { return &value_; }
  std::wstring Text() const { return value_ ? std::wstring(value_, ::SysStringLen(value_)) : L""; }

 private:
  BSTR value_ = nullptr;
};

// Finds the first element child of `parent` (document or element) named exactly `name`.
ComPtr<IXMLDOMNode> FindElement(IXMLDOMNode* parent, const std::wstring& name) {
  ComPtr<IXMLDOMNodeList> children;
  OleCheck(parent->get_childNodes(&children));
  long count = 0;
  OleCheck(children->get_length(&count));
  for (long i = 0; i < count; ++i) {
    ComPtr<IXMLDOMNode> child;
    if (children->get_item(i, &child) != S_OK || !child) continue;
    DOMNodeType type;
    if (FAILED(child->get_nodeType(&type)) || type != NODE_ELEMENT) continue;
    TBstr childName;
    if (SUCCEEDED(child->get_nodeName(childName.Out())) && childName.Text() == name) return child;
  }
  throw Error("Element not found: " + WideToSystem(name));
}

}  // namespace

TXmlDocument::TXmlDocument(const std::vector<std::uint8_t>& bytes) {
  const HRESULT created = ::CoCreateInstance(CLSID_DOMDocument30, nullptr, CLSCTX_INPROC_SERVER,
                                             IID_IXMLDOMDocument, &document_);
  if (FAILED(created) || !document_) throw OleError(created);
  OleCheck(document_->put_async(VARIANT_FALSE));
  OleCheck(document_->put_validateOnParse(VARIANT_FALSE));
  OleCheck(document_->put_resolveExternals(VARIANT_FALSE));

  // Loading the raw bytes (not a string) lets the parser take the encoding from the declaration.
  SAFEARRAY* array = ::SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
  if (!array) throw std::bad_alloc();
  void* data = nullptr;
  if (SUCCEEDED(::SafeArrayAccessData(array, &data))) {
    if (!bytes.empty()) std::memcpy(data, bytes.data(), bytes.size());
    ::SafeArrayUnaccessData(array);
  }
  VARIANT source;
  ::VariantInit(&source);
  source.vt = VT_ARRAY | VT_UI1;
  source.parray = array;
  VARIANT_BOOL ok = VARIANT_FALSE;
  const HRESULT loaded = document_->load(source, &ok);
  ::VariantClear(&source);
  if (FAILED(loaded) || ok != VARIANT_TRUE) throw Error("The document is not well-formed XML");
}

TXmlElement TXmlDocument::TopLevelElement(const std::wstring& name) const {
  return TXmlElement(FindElement(document_.Get(), name));
}

TXmlElement TXmlElement::ChildElement(const std::wstring& name) const {
  return TXmlElement(FindElement(node_.Get(), name));
}

std::wstring TXmlElement::Text() const {
  ComPtr<IXMLDOMNodeList> children;
  OleCheck(node_->get_childNodes(&children));
  long count = 0;
  OleCheck(children->get_length(&count));
  if (count == 0) return L"";
  ComPtr<IXMLDOMNode> child;
  DOMNodeType type = NODE_INVALID;
  if (count == 1 && children->get_item(0, &child) == S_OK && child &&
      SUCCEEDED(child->get_nodeType(&type)) && (type == NODE_TEXT || type == NODE_CDATA_SECTION)) {
    VARIANT value;
    ::VariantInit(&value);
    OleCheck(child->get_nodeValue(&value));
    std::wstring text;
    if (value.vt == VT_BSTR && value.bstrVal)
      text.assign(value.bstrVal, ::SysStringLen(value.bstrVal));
    ::VariantClear(&value);
    return text;
  }
  throw Error("Element does not contain a single text node");
}

}  // namespace pageturn
