#!/bin/sh
echo demo
