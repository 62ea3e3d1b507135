// Placeholder until the command layer lands.
