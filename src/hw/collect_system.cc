// The system branch: the machine as its firmware describes it (the DMI strings the kernel
// exports), the mainboard, the firmware and Secure Boot, the chassis, whether it runs
// virtualised, which identifier databases were found, and what only root may read.
#include "host.h"
#include "hw/hardware.h"
#include "hw/ids.h"
#include "hw/root_data.h"
#include "hw/system_parsers.h"
#include "util.h"

namespace hw {

namespace {

// The directory itself is asked about by its name without the final slash, which the reads of
// kept directories serve without a walk from the root.
const std::string dmi_dir_name = "/sys/class/dmi/id";
const std::string dmi_dir = dmi_dir_name + "/";
const char* const efi_dir = "/sys/firmware/efi";
const char* const efivars_dir = "/sys/firmware/efi/efivars";
// The EFI global variable GUID; other vendors' variables may share the name's start.
const char* const global_guid = "8be4df61-93ca-11d2-aa0d-00e098032b8c";

std::string dmi(const std::string& attr) {
    std::string text = util::read_text(dmi_dir + attr);
    return is_dmi_placeholder(text) ? std::string() : text;
}

std::string protected_value(const std::string& attr, const std::string& text) {
    if (is_dmi_placeholder(text)) return {};
    if (attr == "product_uuid" && is_unset_uuid(text)) return {};
    return util::printable(text);
}

std::string root_data_field(const RootData& rd, const std::string& attr) {
    if (attr == "product_serial") return rd.product_serial;
    if (attr == "product_uuid") return rd.product_uuid;
    if (attr == "board_serial") return rd.board_serial;
    if (attr == "chassis_serial") return rd.chassis_serial;
    return {};
}

// Serials and the UUID are readable by root only: from the file when this process may read
// it, else from the privileged data, else a locked row. Once the file or the privileged data
// has been read, an empty value means the firmware has none, and a lock would promise
// something elevation cannot deliver.
void add_dmi_protected(Section& s, const std::string& label, const std::string& attr) {
    std::string path = dmi_dir + attr;
    bool file_readable = util::readable(path);
    if (file_readable) {
        std::string text = util::read_file(path);
        if (!text.empty()) {
            s.add(label, protected_value(attr, text), attr);
            return;
        }
    }
    const RootData& rd = RootData::instance();
    if (rd.available) {
        s.add(label, protected_value(attr, root_data_field(rd, attr)), attr);
        return;
    }
    // A dangling link in a capture is no root-only file, and nothing is in a directory that
    // is not there (a capture of a machine without DMI tables: resolving is not cheap).
    if (!file_readable && util::is_dir(dmi_dir_name) && util::path_exists(util::resolve_path(path)))
        s.add_locked(label, attr);
}

std::string detect_virtualization(const std::string& vendor, const std::string& product) {
    std::string haystack = util::lower(vendor + " " + product);
    std::string name = hypervisor_from_dmi(haystack);
    if (!name.empty()) return name;
    std::string type = util::read_file("/sys/hypervisor/type");
    if (!type.empty()) return util::valid_utf8(type);
    if (cpuinfo_marks_hypervisor(*util::read_shared("/proc/cpuinfo")))
        return tr("value.hypervisor_present");
    return {};
}

std::string title() {
    std::string host = util::valid_utf8(util::trim(host::kernel_name().nodename));
    // "(none)" is the kernel's own name for a host nobody named.
    if (host.empty() || host == "(none)" || util::lower(host) == "localhost")
        return tr("tree.system");
    return std::string(tr("tree.system")) + " - " + host;
}

void add_machine(Node& node, const std::string& vendor, const std::string& product) {
    Section& s = node.section(tr("sec.machine"));
    s.add(tr("f.manufacturer"), vendor, "sys_vendor");
    s.add(tr("f.model"), product, "product_name");
    s.add(tr("f.family"), dmi("product_family"), "product_family");
    s.add(tr("f.version"), dmi("product_version"), "product_version");
    s.add(tr("f.sku"), dmi("product_sku"), "product_sku");
    add_dmi_protected(s, tr("f.serial"), "product_serial");
    add_dmi_protected(s, tr("f.uuid"), "product_uuid");
    s.add(tr("f.virtualization"), detect_virtualization(vendor, product), "");
}

void add_mainboard(Node& node) {
    Section& s = node.section(tr("sec.mainboard"));
    s.add(tr("f.manufacturer"), dmi("board_vendor"), "board_vendor");
    s.add(tr("f.model"), dmi("board_name"), "board_name");
    s.add(tr("f.version"), dmi("board_version"), "board_version");
    s.add(tr("f.asset_tag"), dmi("board_asset_tag"), "board_asset_tag");
    add_dmi_protected(s, tr("f.serial"), "board_serial");
}

std::string secure_boot_variable() {
    auto entries = util::list_dir(efivars_dir, "SecureBoot-");
    for (const auto& e : entries)
        if (util::ends_with(e, global_guid)) return std::string(efivars_dir) + "/" + e;
    return entries.empty() ? std::string() : std::string(efivars_dir) + "/" + entries.front();
}

void add_secure_boot(Section& s) {
    std::string path = secure_boot_variable();
    if (path.empty()) {
        s.add(tr("f.secure_boot"), tr("common.unknown"));
        return;
    }
    if (!util::readable(path)) {
        s.add_always(tr("f.secure_boot"), tr("msg.needs_root"));
        return;
    }
    auto state = secure_boot_state(util::read_file_raw(path, util::attribute_limit));
    s.add(tr("f.secure_boot"), state ? yesno(*state) : std::string(tr("common.unknown")));
}

void add_firmware(Node& node) {
    Section& s = node.section(tr("sec.firmware"));
    s.add(tr("f.vendor"), dmi("bios_vendor"), "bios_vendor");
    s.add(tr("f.version"), dmi("bios_version"), "bios_version");
    s.add(tr("f.date"), dmi("bios_date"), "bios_date");
    s.add(tr("f.release"), dmi("bios_release"), "bios_release");
    s.add(tr("f.ec_version"), dmi("ec_firmware_release"), "ec_firmware_release");
    bool uefi = util::is_dir(efi_dir);
    // Without EFI, only a machine with SMBIOS tables has a PC BIOS; device-tree boards and
    // virtual machines that boot the kernel directly have neither.
    if (uefi)
        s.add(tr("f.firmware_type"), "UEFI");
    else if (util::is_dir(dmi_dir_name))
        s.add(tr("f.firmware_type"), "BIOS / Legacy");
    if (uefi) {
        uint64_t bits =
            util::to_u64(util::read_file(std::string(efi_dir) + "/fw_platform_size"), 0);
        if (bits) s.add(tr("f.efi_arch"), util::fmt_int(bits) + " Bit");
        if (util::is_dir(efivars_dir)) add_secure_boot(s);
    }
    s.add(tr("f.device_tree"), device_tree_model());
}

void add_chassis(Node& node) {
    Section& s = node.section(tr("sec.chassis"));
    std::string type = util::read_text(dmi_dir + "chassis_type");
    if (!type.empty()) {
        std::string name = chassis_name(util::to_i64(type, 0));
        s.add(tr("f.type"), name.empty() ? type : name + " (" + type + ")", "chassis_type");
    }
    s.add(tr("f.manufacturer"), dmi("chassis_vendor"), "chassis_vendor");
    s.add(tr("f.version"), dmi("chassis_version"), "chassis_version");
    s.add(tr("f.asset_tag"), dmi("chassis_asset_tag"), "chassis_asset_tag");
    add_dmi_protected(s, tr("f.serial"), "chassis_serial");
}

void add_id_databases(Node& node) {
    const Ids& ids = Ids::instance();
    Section& s = node.section(tr("sec.id_database"));
    auto shown = [](const std::string& path, bool this_computer) {
        if (path.empty()) return std::string(tr("msg.ids_missing"));
        std::string p = util::valid_utf8(path);
        // Over a capture: names from another machine's database may differ from the user's.
        return this_computer ? I18n::trf("value.ids_this_computer", p.c_str()) : p;
    };
    s.add("pci.ids", shown(ids.pci_ids_path(), ids.pci_ids_from_this_computer()));
    s.add("usb.ids", shown(ids.usb_ids_path(), ids.usb_ids_from_this_computer()));
}

} // namespace

void collect_system(Node& root) {
    Node* node = root.add_child("system", title(), "\U0001F3E2");
    std::string vendor = dmi("sys_vendor");
    std::string product = dmi("product_name");
    node->summary = util::trim(vendor + " " + product);
    add_machine(*node, vendor, product);
    add_mainboard(*node);
    add_firmware(*node);
    add_chassis(*node);
    add_id_databases(*node);
    // Once the protected data is read, "everything shown here is readable as a normal user"
    // would no longer be true.
    if (!RootData::instance().available)
        node->section(tr("sec.limits")).add_always(tr("f.note"), tr("msg.root_limits"), "");
}

} // namespace hw
