#include "panelio/sim/world_plug.h"

#include <cerrno>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <optional>

#include "panelio/file_io.h"
#include "panelio/sim/sim_state.h"
#include "panelio/unique_fd.h"

namespace kuv::sim {
namespace {

using Json = nlohmann::ordered_json;

// A drive number written as a number or as text such as "3" or "0x03".
std::optional<long> NumberOf(const Json& value) {
  if (value.is_number_integer()) return value.get<long>();
  if (!value.is_string()) return std::nullopt;
  const std::string& text = value.get_ref<const std::string&>();
  if (text.empty()) return std::nullopt;
  char* end = nullptr;
  errno = 0;
  long number = std::strtol(text.c_str(), &end, 0);
  if (errno != 0 || *end != '\0') return std::nullopt;
  return number;
}

std::optional<long> Field(const Json& entry, const char* key) {
  auto it = entry.find(key);
  return it == entry.end() ? std::nullopt : NumberOf(*it);
}

std::string Text(const Json& entry, const char* key) {
  auto it = entry.find(key);
  return it != entry.end() && it->is_string() ? it->get<std::string>() : std::string();
}

std::string DiskName(const Json& disk) {
  std::string name = Text(disk, "name");
  if (!name.empty()) return name;
  auto number = Field(disk, "number");
  return number ? "disk" + std::to_string(*number) : std::string();
}

bool DiskIsNamed(const Json& disk, const std::string& name) {
  if (DiskName(disk) == name) return true;
  auto panel = disk.find("bridgePanel");
  return panel != disk.end() && panel->is_object() && Text(*panel, "name") == name;
}

// The two lists of one side (plugged in, or unplugged); absent lists are created empty.
struct Side {
  Json* disks;
  Json* hids;
};

Result<Side> SideOf(Json& holder) {
  for (const char* key : {"disks", "hidPanels"}) {
    if (!holder.contains(key)) holder[key] = Json::array();
    if (!holder[key].is_array())
      return Status(EINVAL, std::string("\"") + key + "\" is not a list");
  }
  return Side{&holder["disks"], &holder["hidPanels"]};
}

// The disk numbers and HID panel names of the device group `name` on one side.
struct Group {
  bool found = false;
  std::optional<long> diskNumber;
  std::string hidName;
};

Group FindGroup(const Side& side, const std::string& name) {
  Group group;
  for (const Json& disk : *side.disks) {
    if (disk.is_object() && DiskIsNamed(disk, name)) {
      group.found = true;
      group.diskNumber = Field(disk, "number");
      return group;
    }
  }
  for (const Json& hid : *side.hids) {
    if (hid.is_object() && Text(hid, "name") == name) {
      group.found = true;
      group.hidName = name;
      group.diskNumber = Field(hid, "disk");
      return group;
    }
  }
  return group;
}

bool InGroup(const Json& entry, const Group& group, bool isDisk) {
  if (!entry.is_object()) return false;
  if (isDisk) return group.diskNumber && Field(entry, "number") == group.diskNumber;
  if (!group.hidName.empty() && Text(entry, "name") == group.hidName) return true;
  return group.diskNumber && Field(entry, "disk") == group.diskNumber;
}

// Removes the group's entries from one list of a side and returns them.
std::vector<Json> TakeGroup(Json& list, const Group& group, bool isDisk) {
  std::vector<Json> taken;
  for (auto it = list.begin(); it != list.end();) {
    if (InGroup(*it, group, isDisk)) {
      taken.push_back(std::move(*it));
      it = list.erase(it);
    } else {
      ++it;
    }
  }
  return taken;
}

}  // namespace

Result<std::string> ChangePlug(std::string_view worldText, const std::string& name, bool plug) {
  Json world = Json::parse(worldText, nullptr, false);
  if (world.is_discarded() || !world.is_object())
    return Status(EINVAL, "world.json is not a world");
  if (!world.contains("unplugged")) world["unplugged"] = Json::object();
  if (!world["unplugged"].is_object()) return Status(EINVAL, "\"unplugged\" is not an object");
  auto live = SideOf(world);
  if (!live.ok()) return live.status();
  auto away = SideOf(world["unplugged"]);
  if (!away.ok()) return away.status();
  Side from = plug ? *away : *live;
  Side to = plug ? *live : *away;

  Group group = FindGroup(from, name);
  if (!group.found) {
    if (FindGroup(to, name).found) {
      return Status(EALREADY, name + " is already " + (plug ? "plugged in" : "unplugged"));
    }
    return Status(ENOENT, "no device " + name + " in the world");
  }
  std::vector<Json> disks = TakeGroup(*from.disks, group, true);
  std::vector<Json> hids = TakeGroup(*from.hids, group, false);
  if (disks.empty() && hids.empty()) return Status(EINVAL, name + " has no drive number");
  if (plug) {
    // Two disks with one number or two panels with one name would make the world unreadable.
    for (const Json& disk : disks) {
      for (const Json& other : *to.disks) {
        if (other.is_object() && Field(other, "number") == Field(disk, "number")) {
          return Status(EEXIST, "drive number of " + name + " is taken by " + DiskName(other));
        }
      }
    }
    for (const Json& hid : hids) {
      for (const Json& other : *to.hids) {
        if (other.is_object() && Text(other, "name") == Text(hid, "name")) {
          return Status(EEXIST, "an HID panel named " + Text(hid, "name") + " is plugged in");
        }
      }
    }
  }
  for (Json& disk : disks) to.disks->push_back(std::move(disk));
  for (Json& hid : hids) to.hids->push_back(std::move(hid));
  Json& unplugged = world["unplugged"];
  if (unplugged["disks"].empty() && unplugged["hidPanels"].empty()) world.erase("unplugged");
  return world.dump(2) + "\n";
}

Status PlugDevice(const std::string& worldDir, const std::string& name, bool plug) {
  StateDir state(worldDir);
  return state.Locked([&]() -> Status {
    const std::string path = worldDir + "/world.json";
    std::string text;
    {
      UniqueFd in(OpenFd(path, O_RDONLY));
      if (!in.valid()) return PosixError("open " + path, errno);
      if (int err = ReadAll(in.get(), text); err != 0) return PosixError("read " + path, err);
    }
    auto changed = ChangePlug(text, name, plug);
    if (!changed.ok()) return changed.status();
    // Replaced by rename, so the service and the program never read half a world.
    const std::string temp = path + ".plug" + std::to_string(ProcessId());
    {
      UniqueFd out(OpenFd(temp, O_WRONLY | O_CREAT | O_TRUNC));
      if (!out.valid()) return PosixError("create " + temp, errno);
      if (int err = WriteAll(out.get(), *changed); err != 0) {
        out.reset();
        RemoveFileAt(temp);
        return PosixError("write " + temp, err);
      }
    }
    if (int err = RenameOver(temp, path); err != 0) {
      RemoveFileAt(temp);
      return PosixError("rename " + temp, err);
    }
    return {};
  });
}

}  // namespace kuv::sim
