// Fuzz target for the link's property store: any bytes are read without a
// fault, and an edit of a store that could be read keeps every other
// storage and gives a store that reads back with the edit made.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_input.h"
#include "lnk/propstore.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const lnk::PropertyStore store = lnk::ParsePropertyStore(bytes);

  // What was read is the input's own bytes, in order.
  std::string joined;
  for (const lnk::PropertyStorage& s : store.storages) {
    std::string values;
    for (const lnk::StoredProperty& p : s.properties) values += p.raw;
    FUZZ_CHECK(s.raw.compare(24, values.size(), values) == 0);
    joined += s.raw;
  }
  FUZZ_CHECK(bytes.substr(0, joined.size()) == joined);

  // The same bytes as a link file: its block found within them, and put
  // in or taken out without touching another byte.
  const lnk::StoreBlockPlace place = lnk::FindPropertyStoreBlock(bytes);
  FUZZ_CHECK(place.at + place.size <= size);
  if (place.error.empty()) {
    const std::string with = lnk::WithPropertyStore(bytes, place, std::string(4, '\0'));  // an empty store
    const lnk::StoreBlockPlace again = lnk::FindPropertyStoreBlock(with);
    FUZZ_CHECK(again.error.empty() && again.at == place.at && again.size == 12);
    FUZZ_CHECK(lnk::WithPropertyStore(with, again, "") == lnk::WithPropertyStore(bytes, place, ""));
  }

  const lnk::StoreEdit set = lnk::SetStringProperty(bytes, lnk::kAppUserModelFormat, lnk::kAppUserModelId, u"Fuzz.App");
  FUZZ_CHECK(set.ok == store.error.empty());
  if (!set.ok) return 0;
  const lnk::PropertyStore after = lnk::ParsePropertyStore(set.store);
  FUZZ_CHECK(after.error.empty());
  const std::u16string* id = lnk::FindStringProperty(after, lnk::kAppUserModelFormat, lnk::kAppUserModelId);
  FUZZ_CHECK(id != nullptr && *id == u"Fuzz.App");
  // Every storage of another format is kept, in order.
  std::size_t from = 0;
  for (const lnk::PropertyStorage& s : store.storages) {
    if (s.formatId == lnk::kAppUserModelFormat && !s.stringNamed) continue;
    from = set.store.find(s.raw, from);
    FUZZ_CHECK(from != std::string::npos);
    from += s.raw.size();
  }

  const lnk::StoreEdit removed = lnk::RemoveProperty(set.store, lnk::kAppUserModelFormat, lnk::kAppUserModelId);
  FUZZ_CHECK(removed.ok && removed.changed);
  const lnk::PropertyStore gone = lnk::ParsePropertyStore(removed.store);
  FUZZ_CHECK(gone.error.empty());
  FUZZ_CHECK(lnk::FindStringProperty(gone, lnk::kAppUserModelFormat, lnk::kAppUserModelId) == nullptr);
  FUZZ_CHECK(removed.empty == gone.storages.empty());
  return 0;
}
