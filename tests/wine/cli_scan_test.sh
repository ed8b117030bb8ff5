#!/usr/bin/env bash
# Placeholder until the command-line scan exists.
exit 0
