// Placeholder until the training contracts land.
