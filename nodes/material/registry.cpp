#include "nodes/material/material.h"

namespace juxs::material {
namespace {

// One record for the whole module, shared by every scene in the process. It
// lives in static storage: zero-filled from the start, gone with the module.
struct Registry {
  GetMaterial *gets[kListSize];
  StoreMaterial *stores[kListSize];
  int32_t getCount;
  int32_t storeCount;
  int32_t runningIdentifier; // the highest identifier handed out or loaded
  GetMaterial *live;         // every live Get Material, listed or not, chained through them
};

Registry gRegistry;

// Index of item among the first count entries, or -1.
template <class T>
int32_t indexOf(T *const (&list)[kListSize], int32_t count, const T *item) {
  for (int32_t i = 0; i < count; ++i)
    if (list[i] == item) return i;
  return -1;
}

// Removes item, keeping the order of the others.
template <class T>
void removeFrom(T *(&list)[kListSize], int32_t &count, const T *item) {
  const int32_t i = item ? indexOf(list, count, item) : -1;
  if (i < 0) return;
  for (int32_t j = i; j + 1 < count; ++j) list[j] = list[j + 1];
  list[--count] = nullptr;
}

} // namespace

void registerStore(StoreMaterial *store) noexcept {
  Registry &r = gRegistry;
  if (!store) return;
  int32_t position = indexOf(r.stores, r.storeCount, store) + 1;
  if (position == 0) {
    // A full list refuses the newcomer for good: it stays unlisted with the
    // identifier it has until it registers again.
    if (r.storeCount == kListSize) return;
    r.stores[r.storeCount++] = store;
    position = r.storeCount;
  }
  if (store->identifier == kUnassigned)
    store->identifier = ++r.runningIdentifier;
  else if (store->identifier > r.runningIdentifier)
    r.runningIdentifier = store->identifier;
  // Get Materials loaded before their Store Material learn where it now sits.
  for (int32_t i = 0; i < r.getCount; ++i)
    if (r.gets[i]->identifier == store->identifier) r.gets[i]->position = position;
}

void unregisterStore(StoreMaterial *store) noexcept { removeFrom(gRegistry.stores, gRegistry.storeCount, store); }

void registerGet(GetMaterial *get) noexcept {
  Registry &r = gRegistry;
  if (!get || indexOf(r.gets, r.getCount, get) >= 0 || r.getCount == kListSize) return;
  r.gets[r.getCount++] = get;
}

void unregisterGet(GetMaterial *get) noexcept { removeFrom(gRegistry.gets, gRegistry.getCount, get); }

int32_t popupCount(void *) noexcept { return gRegistry.storeCount + 1; }

const char *popupName(void *, int32_t index) noexcept {
  if (index == 0) return "(none)";
  if (index < 1 || index > gRegistry.storeCount) return "(error)";
  return gRegistry.stores[index - 1]->name;
}

int32_t identifierAt(int32_t position) noexcept {
  if (position < 1 || position > gRegistry.storeCount) return 0;
  return gRegistry.stores[position - 1]->identifier;
}

const StoreMaterial *findByIdentifier(int32_t identifier) noexcept {
  for (int32_t i = 0; i < gRegistry.storeCount; ++i)
    if (gRegistry.stores[i]->identifier == identifier) return gRegistry.stores[i];
  return nullptr;
}

void linkLive(GetMaterial *get) noexcept {
  if (!get) return;
  get->prevLive = nullptr;
  get->nextLive = gRegistry.live;
  if (gRegistry.live) gRegistry.live->prevLive = get;
  gRegistry.live = get;
}

void unlinkLive(GetMaterial *get) noexcept {
  if (!get) return;
  if (get->prevLive)
    get->prevLive->nextLive = get->nextLive;
  else if (gRegistry.live == get)
    gRegistry.live = get->nextLive;
  if (get->nextLive) get->nextLive->prevLive = get->prevLive;
  get->prevLive = get->nextLive = nullptr;
}

void forgetStore(const StoreMaterial *store) noexcept {
  for (GetMaterial *g = gRegistry.live; g; g = g->nextLive)
    if (g->resolved == store) g->resolved = nullptr;
}

} // namespace juxs::material
