// The natural-element, isotope, atomic-weights and full neutron-table readers
// on any file, and a material computed from whatever the last one read.
#include "fuzz_support.hpp"
#include "talvo/neutron/material.hpp"
#include "talvo/neutron/nuclear_tables.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string name = fuzz::write_file("table.dat", fuzz::text(data, size));
  talvo::NuclearTable table;
  if (talvo::read_natural_file(name, table).ok() && table.entries.size() > talvo::kMaxEntries) __builtin_trap();
  if (talvo::read_isotope_file(name, table).ok() && table.entries.size() > talvo::kMaxEntries) __builtin_trap();
  std::vector<talvo::AtomicWeight> weights;
  if (talvo::read_atomic_weights(name, weights).ok()) {
    if (weights.size() > talvo::kMaxEntries) __builtin_trap();
    (void)talvo::attach_masses(table, weights);
  }
  talvo::NeutronTable neutron;
  if (talvo::read_neutron_table(name, neutron).ok()) {
    talvo::Material m;
    for (const char* formula : {"H2O", "Fe", "Li[6]0.5Li[7]0.5"})
      (void)talvo::material_from_formula(formula, neutron, {}, m);
  }
  return 0;
}
