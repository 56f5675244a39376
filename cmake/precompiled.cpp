// Stands for the targets that share a precompiled header.
