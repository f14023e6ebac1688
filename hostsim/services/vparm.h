// Variant parameters with keyframed envelopes, envelopes and the channel
// groups that hold their channels ("Animation Envelopes", "Channel Info 2").
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "host/lw_vparm.h"
#include "hostsim/checks.h"
#include "hostsim/services/linked_list.h"
#include "hostsim/services/places.h"

namespace hostsim {

struct VParm;
struct ChanGroup;

using GroupPlaces = Places<ChanGroup, 64>;

// A node's group holds one group of the module's and its parameters (the
// most of any node is 15): the list's first block is in the group's own
// room, not an allocation.
constexpr std::size_t kInlineChannels = 16;

// A named node of the channel hierarchy; LWChanGroupID points here. A group
// stays where it was made (its list's room is its own), and owns the groups
// under it.
struct ChanGroup {
  ChanGroup() = default;
  ~ChanGroup();
  ChanGroup(const ChanGroup &) = delete;
  ChanGroup &operator=(const ChanGroup &) = delete;

  std::string name;
  ChanGroup *parent = nullptr;
  Links<ChanGroup> siblings; // among its parent's children
  // The groups under it, in the order made: a network's group holds one for
  // every node, which go in any order.
  LinkedList<ChanGroup, &ChanGroup::siblings> children;
  InlineRoom<VParm *, kInlineChannels> channelRoom;
  // Parameters set up in this group, in order.
  std::vector<VParm *, RoomAllocator<VParm *, kInlineChannels>> channels{
      RoomAllocator<VParm *, kInlineChannels>(&channelRoom)};
  GroupPlaces *home = nullptr; // the places it lives in; none for a root
  void *block = nullptr;       // its block there (a GroupPlaces::Block), for a release without a search

  std::string path() const; // "Scene/Surface/Sqrt (1)/Sqrt"
  ChanGroup *child(const std::string &name) const;
};

enum class KeyShape : int16_t { Linear = 0, Stepped = 1 };

struct Key {
  double time;
  double value;
  KeyShape shape; // how the value goes on to the next key
};

// A keyframed channel: constant before the first key and after the last.
struct Envelope {
  std::vector<Key> keys; // sorted by time
  double at(double t) const noexcept;
  void set(double time, double value, KeyShape shape);
};

// LWVParmID points here.
struct VParm {
  int32_t type = 0;
  int components = 1;
  double value[3] = {0, 0, 0}; // the value where a component has no keys
  Envelope env[3];
  std::string channel;
  ChanGroup *group = nullptr;

  bool animated() const noexcept;
  double at(int component, double t) const noexcept;
};

// An envelope made through "Animation Envelopes" (LWEnvelopeID points here).
struct HostEnvelope {
  std::string name;
  ChanGroup *group = nullptr;
  int32_t type = LWET_FLOAT;
  double value = 0; // before any key is set
  Envelope keys;
  int32_t age = 0; // rises with every change
};

class VParmService {
public:
  explicit VParmService(Checks &checks);
  ~VParmService();
  VParmService(const VParmService &) = delete;
  VParmService &operator=(const VParmService &) = delete;

  const LWVParmFuncs *funcs() const { return &funcs_; }
  const LWEnvelopeFuncs *envelopeFuncs() const { return &envFuncs_; }
  const LWChannelInfo *channelInfo() const { return &channels_; }
  // The C tables act on the service made current by its host.
  void makeCurrent();

  ChanGroup &root() { return root_; } // top-level groups are its children
  ChanGroup *createGroup(ChanGroup *parent, std::string name);
  void destroyGroup(ChanGroup *group);

  VParm *create(int32_t type); // null for an unknown type code
  void destroy(VParm *parm);
  // The live parameter behind a handle, or null (counted as a bad handle).
  VParm *find(LWVParmID id);
  VParm *findQuiet(LWVParmID id); // the same, without counting a bad handle
  HostEnvelope *createEnvelope(ChanGroup *group, const std::string &name, int32_t type);
  void destroyEnvelope(HostEnvelope *e);
  HostEnvelope *findEnvelope(LWEnvelopeID id);
  std::size_t liveCount() const { return liveParms_; }
  int badHandles() const { return badHandles_; }
  // Makes the next n creations fail, as a host out of memory would.
  void failNextCreates(int n) { failCreates_ = n; }

private:
  Checks &checks_; // where its parameters, groups and envelopes are booked
  LWVParmFuncs funcs_{};
  LWEnvelopeFuncs envFuncs_{};
  LWChannelInfo channels_{};
  // Groups (two or three a node) live in places of the service's own, not
  // an allocation each. Declared before the root, so gone after its groups.
  GroupPlaces groupPlaces_;
  ChanGroup root_;
  // Parameters live in blocks of places: a node's dozen take no allocation
  // each. A block is aligned to its size (8 KiB), so a handle's block is the
  // handle with its low bits cleared, found in a table of the blocks (open
  // addressing, only ever added to); the handle is told live by its place's
  // mark there, without being followed. Parameters are read during
  // evaluation: the look-up takes a hash and a probe or two, as a map's did.
  static constexpr std::size_t kBlockBytes = 8192;
  using ParmPlaces = PlaceBlock<VParm, std::min<std::size_t>(64, (kBlockBytes - 16) / sizeof(VParm))>;
  struct alignas(kBlockBytes) ParmBlock : ParmPlaces {};
  static_assert(sizeof(ParmBlock) == kBlockBytes);
  // The block a live parameter's address falls in, and its place there.
  std::pair<ParmBlock *, std::ptrdiff_t> placeOf(const void *p) const;
  std::size_t slotOf(uintptr_t block) const;
  ParmBlock *addBlock();
  void insertBlock(ParmBlock *block) noexcept;
  std::vector<std::unique_ptr<ParmBlock>> parmBlocks_; // in the order made
  std::vector<ParmBlock *> blockTable_;                // a power of two long, at most half full
  std::vector<ParmBlock *> openBlocks_;                // those with a free place, each once
  std::size_t liveParms_ = 0;
  std::unordered_map<HostEnvelope *, std::unique_ptr<HostEnvelope>> envelopes_;
  int badHandles_ = 0;
  int failCreates_ = 0;
};

// Save and load of a parameter's value and keys, shared with scene files.
LWError saveVParm(const VParm &p, const LWSaveState *ss);
LWError loadVParm(VParm &p, const LWLoadState *ls);

} // namespace hostsim
