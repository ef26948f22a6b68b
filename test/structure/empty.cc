// Deliberately empty: the baseline for the initialiser-section check.
