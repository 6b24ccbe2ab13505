rig_fuzz(fuzz_slot_labels SOURCES SlotLabelFuzz.cpp DEPS device)
