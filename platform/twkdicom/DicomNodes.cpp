// Element trees (DCMNODE): built from headers or node by node, searched and shown as text.

#include <cmath>
#include <cstdio>
#include <cstring>
#include <deque>
#include <string>
#include <type_traits>

#include "DicomInternal.h"
#include "TwkMem.h"

using namespace twk::dicom;

namespace {

// Longest binary value (in numbers) that a node shows in full.
constexpr unsigned long kMaxShownNumbers = 64;

wchar_t* copyWide(const std::wstring& text) { return PR_CopyString(text.c_str()); }

std::wstring tagText(uint32_t tag) {
  wchar_t text[16];
  std::swprintf(text, 16, L"%04X,%04X", TWKDCM_TagGroup(tag), TWKDCM_TagElement(tag));
  return text;
}

DCMNODE* newNode(uint32_t tag, uint16_t vr, const std::wstring& name, const wchar_t* value) {
  auto* node = static_cast<DCMNODE*>(pf_calloc(sizeof(DCMNODE)));
  if (!node) return nullptr;
  node->tag = tag;
  node->vr = vr;
  node->name = copyWide(name);
  node->text = copyWide(name + L" : " + tagText(tag));
  if (value) node->value = PR_CopyString(value);
  if (!node->name || !node->text || (value && !node->value)) {
    TWKDCM_DeleteDCMNODE(&node);
    return nullptr;
  }
  return node;
}

bool appendChild(DCMNODE* parent, DCMNODE* child) {
  if (!parent || !child) return false;
  DCMNODE** grown = parent->children;
  if (!pf_realloc(&grown, int64_t(parent->numChildren + 1) * int64_t(sizeof(DCMNODE*)))) return false;
  parent->children = grown;
  parent->children[parent->numChildren++] = child;
  return true;
}

uint16_t vrCode(DcmEVR vr) {
  const char* name = DcmVR(vr).getVRName();
  if (!name || std::strlen(name) < 2) return 0;
  return TWKDCM_VR(name[0], name[1]);
}

std::wstring dictionaryName(DcmTag tag) {
  const char* name = tag.getTagName();
  return name ? std::wstring(CString(name).wstr()) : std::wstring(L"Unknown");
}

bool isBinaryVr(DcmEVR vr) {
  switch (vr) {
    case EVR_OB: case EVR_OW: case EVR_OF: case EVR_OD: case EVR_OL: case EVR_OV: case EVR_UN: case EVR_ox:
    case EVR_px: case EVR_pixelSQ:
      return true;
    default:
      return false;
  }
}

bool addItemChildren(DcmItem* item, DcmItem* root, DCMNODE* parent);

bool addElement(DcmElement* element, DcmItem* root, DCMNODE* parent) {
  DcmTag tag = element->getTag();
  const DcmEVR vr = tag.getEVR();
  const uint32_t code = tagOf(tag);
  if (vr == EVR_SQ) {
    DCMNODE* node = newNode(code, vrCode(vr), dictionaryName(tag), nullptr);
    if (!node || !appendChild(parent, node)) {
      TWKDCM_DeleteDCMNODE(&node);
      return false;
    }
    auto* sequence = static_cast<DcmSequenceOfItems*>(element);
    for (unsigned long i = 0; i < sequence->card(); ++i) {
      DCMNODE* itemNode = newNode(TWKDCM_TAG(0xFFFE, 0xE000), 0, L"Item #" + std::to_wstring(i + 1), nullptr);
      if (!itemNode || !appendChild(node, itemNode)) {
        TWKDCM_DeleteDCMNODE(&itemNode);
        return false;
      }
      if (!addItemChildren(sequence->getItem(i), root, itemNode)) return false;
    }
    return true;
  }
  std::wstring value;
  const unsigned long numbers = element->getVM();
  const bool pixelData = TWKDCM_TagGroup(code) == 0x7FE0;
  if (pixelData || vr == EVR_pixelSQ || (isBinaryVr(vr) && element->getLength() > kMaxShownNumbers) ||
      numbers > kMaxShownNumbers) {
    value = L"<" + std::to_wstring(element->getLength()) + L" bytes>";
  } else {
    std::string bytes;
    if (elementString(element, bytes)) value = decodeText(root, bytes).wstr();
  }
  DCMNODE* node = newNode(code, vrCode(vr), dictionaryName(tag), value.c_str());
  if (!node || !appendChild(parent, node)) {
    TWKDCM_DeleteDCMNODE(&node);
    return false;
  }
  return true;
}

bool addItemChildren(DcmItem* item, DcmItem* root, DCMNODE* parent) {
  if (!item) return true;
  for (unsigned long i = 0; i < item->card(); ++i) {
    DcmElement* element = item->getElement(i);
    if (element && !addElement(element, root, parent)) return false;
  }
  return true;
}

// Little-endian numbers of a raw value as text separated by '\'.
template <class T>
std::wstring numbersText(const uint8_t* bytes, int64_t length) {
  std::wstring text;
  for (int64_t at = 0; at + int64_t(sizeof(T)) <= length; at += int64_t(sizeof(T))) {
    T value;
    std::memcpy(&value, bytes + at, sizeof(T));  // this library runs on little-endian hosts only
    wchar_t number[64];
    if constexpr (std::is_floating_point_v<T>)
      std::swprintf(number, 64, L"%.10g", double(value));
    else
      std::swprintf(number, 64, L"%lld", static_cast<long long>(value));
    text += (text.empty() ? L"" : L"\\") + std::wstring(number);
  }
  return text;
}

}  // namespace

DCMNODE* TWKDCM_CreateDCMNODE(const DCMFF* header) {
  if (!header) return nullptr;
  DCMNODE* root = newNode(0, 0, L"DICOM header", nullptr);
  if (!root) return nullptr;
  DCMFF* file = const_cast<DCMFF*>(header);
  DcmDataset* data = file->file.getDataset();
  if (!addItemChildren(file->file.getMetaInfo(), data, root) || !addItemChildren(data, data, root)) {
    TWKDCM_DeleteDCMNODE(&root);
    return nullptr;
  }
  return root;
}

void TWKDCM_DeleteDCMNODE(DCMNODE** root) {
  if (!root || !*root) return;
  // Iterative, so that deep trees cannot exhaust the stack.
  std::deque<DCMNODE*> pending{*root};
  while (!pending.empty()) {
    DCMNODE* node = pending.front();
    pending.pop_front();
    for (uint32_t i = 0; i < node->numChildren; ++i)
      if (node->children[i]) pending.push_back(node->children[i]);
    pf_free(&node->children);
    pf_free(&node->text);
    pf_free(&node->name);
    pf_free(&node->value);
    pf_free(&node);
  }
  *root = nullptr;
}

bool TWKDCM_GetTagName(uint32_t tag, CString* name) {
  if (!name) return false;
  DcmTag dictionaryTag(key(tag));
  const char* found = dictionaryTag.getTagName();
  if (!found || std::strcmp(found, DcmTag_ERROR_TagName) == 0) return false;
  *name = CString(found);
  return true;
}

DCMNODE* TWKDCM_NewDCMNODE(uint32_t tag, uint16_t vr, const void* value, int64_t length) {
  CString name;
  if (!TWKDCM_GetTagName(tag, &name) || length < 0 || (length > 0 && !value)) return nullptr;
  const auto* bytes = static_cast<const uint8_t*>(value);
  const char first = char(vr & 0xFF), second = char(vr >> 8);
  const std::string vrName{first, second};
  std::wstring text;
  bool hasValue = true;
  if (vrName == "US") text = numbersText<uint16_t>(bytes, length);
  else if (vrName == "SS") text = numbersText<int16_t>(bytes, length);
  else if (vrName == "UL") text = numbersText<uint32_t>(bytes, length);
  else if (vrName == "SL") text = numbersText<int32_t>(bytes, length);
  else if (vrName == "FL") text = numbersText<float>(bytes, length);
  else if (vrName == "FD") text = numbersText<double>(bytes, length);
  else if (vrName == "AT") {
    for (int64_t at = 0; at + 4 <= length; at += 4) {
      const uint32_t group = bytes[at] | (bytes[at + 1] << 8), element = bytes[at + 2] | (bytes[at + 3] << 8);
      text += (text.empty() ? L"" : L"\\") + std::wstring(L"(") + tagText(TWKDCM_TAG(group, element)) + L")";
    }
  } else if (vrName == "SQ") {
    hasValue = false;
  } else if (vrName == "OB" || vrName == "OW" || vrName == "OF" || vrName == "OD" || vrName == "UN") {
    text = L"<" + std::to_wstring(length) + L" bytes>";
  } else {
    // Text kinds: the stored bytes without padding, read as the 8-bit code page.
    std::string raw(reinterpret_cast<const char*>(bytes), size_t(length));
    while (!raw.empty() && (raw.back() == ' ' || raw.back() == '\0')) raw.pop_back();
    text = decodeText(nullptr, raw).wstr();
  }
  return newNode(tag, vr, name.wstr(), hasValue ? text.c_str() : nullptr);
}

bool TWKDCM_AddDCMNODEchild(DCMNODE* parent, DCMNODE* child) { return parent != child && appendChild(parent, child); }

const DCMNODE* TWKDCM_FindDCMNODE(const DCMNODE* root, uint32_t tag) {
  if (!root) return nullptr;
  // Breadth first: the top level is searched before anything deeper.
  std::deque<const DCMNODE*> pending{root};
  while (!pending.empty()) {
    const DCMNODE* node = pending.front();
    pending.pop_front();
    if (node != root && node->tag == tag) return node;
    for (uint32_t i = 0; i < node->numChildren; ++i)
      if (node->children[i]) pending.push_back(node->children[i]);
  }
  return nullptr;
}

wchar_t* TWKDCM_GetValueToString(const DCMNODE* node) {
  return node && node->value ? PR_CopyString(node->value) : nullptr;
}

wchar_t* TWKDCM_GetFirstConvertVal(const DCMNODE* node) {
  if (!node || !node->value) return nullptr;
  std::wstring first(node->value);
  const size_t slash = first.find(L'\\');
  if (slash != std::wstring::npos) first.resize(slash);
  const char a = char(node->vr & 0xFF), b = char(node->vr >> 8);
  const std::string vr{a, b};
  if (vr == "DS" || vr == "IS" || vr == "FL" || vr == "FD" || vr == "US" || vr == "SS" || vr == "UL" || vr == "SL") {
    wchar_t* end = nullptr;
    const double number = std::wcstod(first.c_str(), &end);
    while (end && *end == L' ') ++end;
    if (!first.empty() && end && *end == L'\0' && std::isfinite(number)) {
      wchar_t text[64];
      std::swprintf(text, 64, L"%.15g", number);
      first = text;
    }
  }
  return copyWide(first);
}
