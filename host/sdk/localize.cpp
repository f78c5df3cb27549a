#include <string>
#include <string_view>

#include "host/sdk/rhino_host_side.h"

namespace {

struct Translation {
  std::wstring_view English;
  std::wstring_view German;
};

// The titles of the host's control bars that the German host shows otherwise.
constexpr Translation GermanTitles[] = {
    {L"Command", L"Befehl"},
    {L"Notes", L"Notizen"},
    {L"Layers", L"Ebenen"},
    {L"Osnap", L"Objektfang"},
    {L"Properties", L"Eigenschaften"},
    {L"Curvature", L"Kr\u00fcmmung"},
};

HostLanguage CurrentLanguage = HostLanguage::English;

std::wstring_view WithoutDisambiguationTag(std::wstring_view text) {
  std::size_t tag = text.rfind(L"[[");
  if (tag != std::wstring_view::npos && text.ends_with(L"]]")) text.remove_suffix(text.size() - tag);
  return text;
}

std::wstring_view Translate(std::wstring_view english) {
  if (CurrentLanguage == HostLanguage::Blank) return {};
  if (CurrentLanguage == HostLanguage::German) {
    for (const Translation& translation : GermanTitles) {
      if (translation.English == english) return translation.German;
    }
  }
  return english;
}

}  // namespace

void CRhinoHostSide::SetLanguage(HostLanguage language) { CurrentLanguage = language; }

const unsigned short* RhLocalizeString(const unsigned short* english, int) {
  // Valid until the next call, which is as long as callers may rely on it.
  static std::wstring Localized;
  Localized = Translate(WithoutDisambiguationTag(reinterpret_cast<const wchar_t*>(english)));
  return reinterpret_cast<const unsigned short*>(Localized.c_str());
}
