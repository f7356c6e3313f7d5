#include "Win.Utils.h"

#include <climits>
#include <cstring>
#include <dlfcn.h>
#include <elf.h>
#include <link.h>
#include <unistd.h>

namespace kva {

std::string GetComputerName() {
  char Buffer[HOST_NAME_MAX + 1];
  if (::gethostname(Buffer, sizeof Buffer) != 0) return {};
  Buffer[HOST_NAME_MAX] = '\0';
  return Buffer;
}

namespace {

// The version record: an ELF note named "KVA" of this type whose descriptor holds the file
// version's most and least significant 32-bit words.
constexpr uint32_t VersionNoteType = 0x4b56;
constexpr char VersionNoteName[] = "KVA";

struct TModuleSearch {
  ElfW(Addr) BaseAddress;  // load address of the module to find
  bool MainProgram;        // the first object the loader reports is the program itself
  bool Found = false;
  uint32_t VersionMS = 0;
  uint32_t VersionLS = 0;
};

constexpr size_t Align4(size_t ASize) { return (ASize + 3) & ~size_t{3}; }

bool FindVersionNote(const dl_phdr_info* AInfo, TModuleSearch& ASearch) {
  for (ElfW(Half) I = 0; I < AInfo->dlpi_phnum; ++I) {
    const ElfW(Phdr)& Header = AInfo->dlpi_phdr[I];
    if (Header.p_type != PT_NOTE) continue;
    const auto* Cursor = reinterpret_cast<const unsigned char*>(AInfo->dlpi_addr + Header.p_vaddr);
    const auto* End = Cursor + Header.p_memsz;
    while (static_cast<size_t>(End - Cursor) >= sizeof(ElfW(Nhdr))) {
      ElfW(Nhdr) Note;
      std::memcpy(&Note, Cursor, sizeof Note);
      const auto* Name = Cursor + sizeof Note;
      const auto* Descriptor = Name + Align4(Note.n_namesz);
      const auto* Next = Descriptor + Align4(Note.n_descsz);
      if (Next > End) break;
      if (Note.n_type == VersionNoteType && Note.n_namesz == sizeof VersionNoteName &&
          std::memcmp(Name, VersionNoteName, sizeof VersionNoteName) == 0 && Note.n_descsz >= 8) {
        std::memcpy(&ASearch.VersionMS, Descriptor, 4);
        std::memcpy(&ASearch.VersionLS, Descriptor + 4, 4);
        return true;
      }
      Cursor = Next;
    }
  }
  return false;
}

int VisitModule(dl_phdr_info* AInfo, size_t, void* AData) {
  auto& Search = *static_cast<TModuleSearch*>(AData);
  if (!Search.MainProgram && AInfo->dlpi_addr != Search.BaseAddress) return 0;
  Search.Found = FindVersionNote(AInfo, Search);
  return 1;  // this was the module asked for: stop
}

}  // namespace

bool GetModuleVersion(TModuleHandle AModule, int& AMajor, int& AMinor, int& ARelease, int& ABuild) {
  AMajor = AMinor = ARelease = ABuild = 0;
  TModuleSearch Search{0, AModule == 0};
  if (AModule != 0) {
    link_map* Map = nullptr;
    if (::dlinfo(reinterpret_cast<void*>(AModule), RTLD_DI_LINKMAP, &Map) != 0 || !Map) return false;
    Search.BaseAddress = Map->l_addr;
  }
  ::dl_iterate_phdr(VisitModule, &Search);
  if (!Search.Found) return false;
  AMajor = static_cast<int>(Search.VersionMS >> 16);
  AMinor = static_cast<int>(Search.VersionMS & 0xFFFF);
  ARelease = static_cast<int>(Search.VersionLS >> 16);
  ABuild = static_cast<int>(Search.VersionLS & 0xFFFF);
  return true;
}

}  // namespace kva
