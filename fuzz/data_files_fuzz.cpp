// The natural-element, isotope, atomic-weights and full neutron-table readers
// on any file, and a material computed from whatever the last one read.
#include "fuzz_support.hpp"
#include "talvo/classic/nuclear_tables.hpp"
#include "talvo/neutron/material.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string name = fuzz::write_file("table.dat", fuzz::text(data, size));
  talvo::classic::NuclearTable table;
  if (talvo::classic::read_natural_file(name, table).ok() && table.entries.size() > talvo::classic::kMaxEntries)
    __builtin_trap();
  if (talvo::classic::read_isotope_file(name, table).ok() && table.entries.size() > talvo::classic::kMaxEntries)
    __builtin_trap();
  std::vector<talvo::classic::AtomicWeight> weights;
  if (talvo::classic::read_atomic_weights(name, weights).ok()) {
    if (weights.size() > talvo::classic::kMaxEntries) __builtin_trap();
    (void)talvo::classic::attach_masses(table, weights);
  }
  if (const talvo::Result<talvo::NeutronTable> neutron = talvo::read_neutron_table(name); neutron.ok())
    for (const char* formula : {"H2O", "Fe", "Li[6]0.5Li[7]0.5"}) (void)talvo::material(formula, *neutron, {});
  return 0;
}
